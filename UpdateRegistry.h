// The UpdateRegistry custom-action module: its three exports and the row application they
// share. Every export returns ERROR_SUCCESS; everything that goes wrong becomes log lines.
#pragma once

#include "sources/stdInstallLib.h"

extern "C" {
// Applies the Registry-table rows whose keys ZYB_UPDATE_REG_KEYS lists, separated by ";".
UINT WINAPI PerformRegistryUpdate(MSIHANDLE install);
// Adds ZYB_ARP_PREVSIZE to TOTAL_COST.
UINT WINAPI SumARPPrevsizeAndTotalCost(MSIHANDLE install);
// Applies the Registry-table row named by ZYB_ARP_SIZE_REG_KEY, adding integers to the stored
// integer.
UINT WINAPI UpdateARPSize(MSIHANDLE install);
}

// Writes one fetched Registry row (Registry, Root, Key, Name, Value, Component_) to the
// registry, logging each step under the session's prefix + "UpdateRegistryEntry: ". In
// additive mode an integer value is added to the REG_DWORD already stored. False when the
// row's root is not resolved (nothing is touched then).
bool UpdateRegistryEntry(const msistd::CSession& session, const msistd::CRecord& record,
                         bool additive);

// Base-10 conversion of a package text: leading white space skipped, one optional sign, digits
// up to the first other character; no digits give 0; out of range clamps to the int32 limits.
int32_t ToInt32(const msistd::WString& text);

// Bytes of the hexadecimal digits of `text`, two digits a byte counted from the end (an odd
// first digit is a byte of its own); a character that is not a hexadecimal digit counts as 0.
std::vector<BYTE> HexBytes(const msistd::WString& text);

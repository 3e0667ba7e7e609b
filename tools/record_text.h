// The quoted-text form of the runner's output records, shared by the runner (Windows) and the
// conformance tools (host) so that both sides write and read exactly the same escapes.
//
// A quoted text is "..." holding pure ASCII: \\ and \" for the backslash and the quote, \n \r \t
// for line feed, carriage return and tab, \uXXXX (four hex digits, one UTF-16 code unit) for
// every other code unit below 0x20 or from 0x7F on; every other character stands for itself.
#pragma once

#include <string>

namespace recordtext {

// Appends `text` (UTF-16 code units in any 16-bit character type) as a quoted text.
template <class Char>
void AppendQuoted(std::string& out, const std::basic_string<Char>& text) {
  static const char kHex[] = "0123456789abcdef";
  out += '"';
  for (Char c : text) {
    const unsigned unit = static_cast<unsigned>(c) & 0xFFFFu;
    switch (unit) {
      case '\\': out += "\\\\"; break;
      case '"': out += "\\\""; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (unit < 0x20 || unit >= 0x7F) {
          out += "\\u";
          for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(unit >> shift) & 0xF];
        } else {
          out += static_cast<char>(unit);
        }
    }
  }
  out += '"';
}

template <class Char>
std::string Quoted(const std::basic_string<Char>& text) {
  std::string out;
  AppendQuoted(out, text);
  return out;
}

// Reads a quoted text starting at `pos` (which must point at its opening quote) into `text`
// and moves `pos` past the closing quote. Returns false, leaving `pos` unspecified, when the
// input is not a well-formed quoted text.
template <class Char>
bool ReadQuoted(const std::string& in, size_t& pos, std::basic_string<Char>& text) {
  text.clear();
  if (pos >= in.size() || in[pos] != '"') return false;
  for (++pos; pos < in.size(); ++pos) {
    char c = in[pos];
    if (c == '"') {
      ++pos;
      return true;
    }
    if (c != '\\') {
      text += static_cast<Char>(static_cast<unsigned char>(c));
      continue;
    }
    if (++pos >= in.size()) return false;
    switch (in[pos]) {
      case '\\': text += static_cast<Char>('\\'); break;
      case '"': text += static_cast<Char>('"'); break;
      case 'n': text += static_cast<Char>('\n'); break;
      case 'r': text += static_cast<Char>('\r'); break;
      case 't': text += static_cast<Char>('\t'); break;
      case 'u': {
        if (pos + 4 >= in.size()) return false;
        unsigned unit = 0;
        for (int i = 1; i <= 4; ++i) {
          char h = in[pos + i];
          unsigned digit;
          if (h >= '0' && h <= '9') digit = h - '0';
          else if (h >= 'a' && h <= 'f') digit = h - 'a' + 10;
          else if (h >= 'A' && h <= 'F') digit = h - 'A' + 10;
          else return false;
          unit = unit * 16 + digit;
        }
        text += static_cast<Char>(unit);
        pos += 4;
        break;
      }
      default:
        return false;
    }
  }
  return false;
}

}  // namespace recordtext

// Databases, tables with typed columns, the installer's SQL subset, and views over it.
#include <algorithm>
#include <stdexcept>

#include "internal.h"

namespace hostplatform {
namespace {

using hostctl::Column;
using hostctl::ColumnType;
using hostctl::DatabaseId;

// Error values of MsiViewGetErrorW beyond the four the declarations name; the numbers are the
// platform's.
constexpr MSIDBERROR kDuplicateKey = static_cast<MSIDBERROR>(1);
constexpr MSIDBERROR kRequired = static_cast<MSIDBERROR>(2);
constexpr MSIDBERROR kOverflow = static_cast<MSIDBERROR>(4);

// Rows are shared so that a view's result set and a fetched record can keep pointing at a row
// while the table changes; a deleted row is flagged so that they notice.
struct Row {
  std::vector<Cell> cells;
  bool deleted = false;
};

struct Table {
  std::vector<Column> columns;
  std::vector<std::shared_ptr<Row>> rows;
};

struct Database {
  std::map<Text, std::shared_ptr<Table>> tables;  // names are case-sensitive, as in the installer
};

struct DatabaseState {
  std::map<DatabaseId, std::shared_ptr<Database>> databases;
  DatabaseId nextId = 1;
  std::vector<std::pair<Text, DatabaseId>> paths;
};

DatabaseState& state() {
  static DatabaseState instance;
  return instance;
}

struct DatabaseHandle : Object {
  std::shared_ptr<Database> database;
};

struct SyntaxError {};

enum class TokenKind { Name, QuotedName, String, Integer, Symbol, End };

struct Token {
  TokenKind kind;
  Text text;
  int number = 0;
};

bool IsNameStart(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'_' || c >= 0x80;
}

bool IsNameChar(char16_t c) { return IsNameStart(c) || (c >= u'0' && c <= u'9'); }
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

char16_t AsciiUpper(char16_t c) { return c >= u'a' && c <= u'z' ? c - u'a' + u'A' : c; }

bool EqualsNoCase(const Text& a, const Text& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [](char16_t x, char16_t y) { return AsciiUpper(x) == AsciiUpper(y); });
}

// Parses an optionally negative decimal integer that must fill the whole text and fit an int.
std::optional<int> ParseInteger(const Text& text) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && text[i] == u'-') {
    negative = true;
    ++i;
  }
  if (i == text.size()) return std::nullopt;
  int64_t value = 0;
  for (; i < text.size(); ++i) {
    if (!IsDigit(text[i])) return std::nullopt;
    value = value * 10 + (text[i] - u'0');
    if (value > int64_t{1} << 31) return std::nullopt;
  }
  if (negative) value = -value;
  if (value < INT32_MIN || value > INT32_MAX) return std::nullopt;
  return static_cast<int>(value);
}

Text DecimalText(int value) {
  std::string digits = std::to_string(value);
  return Text(digits.begin(), digits.end());
}

// Text literals have no escape: the next quote ends them, so `'a'b'` leaves a stray name and an
// unterminated literal behind.
std::vector<Token> Tokenize(const Text& query) {
  std::vector<Token> tokens;
  size_t i = 0;
  while (i < query.size()) {
    char16_t c = query[i];
    if (c == u' ' || c == u'\t' || c == u'\r' || c == u'\n') {
      ++i;
    } else if (c == u'\'' || c == u'`') {
      size_t end = query.find(c, i + 1);
      if (end == Text::npos) throw SyntaxError{};
      Text inner = query.substr(i + 1, end - i - 1);
      if (c == u'`' && inner.empty()) throw SyntaxError{};
      tokens.push_back({c == u'\'' ? TokenKind::String : TokenKind::QuotedName, inner});
      i = end + 1;
    } else if (IsDigit(c) || (c == u'-' && i + 1 < query.size() && IsDigit(query[i + 1]))) {
      size_t end = i + 1;
      while (end < query.size() && IsDigit(query[end])) ++end;
      if (end < query.size() && IsNameChar(query[end])) throw SyntaxError{};
      Text digits = query.substr(i, end - i);
      auto number = ParseInteger(digits);
      if (!number) throw SyntaxError{};
      tokens.push_back({TokenKind::Integer, digits, *number});
      i = end;
    } else if (IsNameStart(c)) {
      size_t end = i + 1;
      while (end < query.size() && IsNameChar(query[end])) ++end;
      tokens.push_back({TokenKind::Name, query.substr(i, end - i)});
      i = end;
    } else if ((c == u'<' || c == u'>') && i + 1 < query.size() &&
               (query[i + 1] == u'=' || (c == u'<' && query[i + 1] == u'>'))) {
      tokens.push_back({TokenKind::Symbol, query.substr(i, 2)});
      i += 2;
    } else if (Text(u"*,()=<>?.").find(c) != Text::npos) {
      tokens.push_back({TokenKind::Symbol, Text(1, c)});
      ++i;
    } else {
      throw SyntaxError{};
    }
  }
  tokens.push_back({TokenKind::End, Text()});
  return tokens;
}

struct ColumnRef {
  Text table;  // empty unless written as table.column
  Text name;
  size_t index = 0;
};

struct Operand {
  enum class Kind { Text, Integer, Parameter, Column } kind = Kind::Text;
  Text text;
  int number = 0;
  size_t parameter = 0;
  ColumnRef column;
};

enum class Op { Equal, NotEqual, Less, Greater, LessEqual, GreaterEqual };

struct Condition {
  enum class Kind { And, Or, Compare, IsNull, IsNotNull } kind = Kind::Compare;
  std::unique_ptr<Condition> left;
  std::unique_ptr<Condition> right;
  ColumnRef column;
  Op op = Op::Equal;
  Operand value;
};

struct Query {
  bool allColumns = false;
  std::vector<ColumnRef> columns;
  Text table;
  std::unique_ptr<Condition> where;
  std::vector<ColumnRef> orderBy;
  size_t parameterCount = 0;
};

// SELECT * | column[, column...] FROM table [WHERE condition] [ORDER BY column[, column...]],
// with AND binding tighter than OR.
class Parser {
 public:
  explicit Parser(std::vector<Token> tokens) : tokens_(std::move(tokens)) {}

  Query Parse() {
    Query query;
    ExpectKeyword(u"SELECT");
    if (AcceptSymbol(u"*")) {
      query.allColumns = true;
    } else {
      do query.columns.push_back(ParseColumnRef());
      while (AcceptSymbol(u","));
    }
    ExpectKeyword(u"FROM");
    query.table = ParseName();
    if (AcceptKeyword(u"WHERE")) query.where = ParseOr();
    if (AcceptKeyword(u"ORDER")) {
      ExpectKeyword(u"BY");
      do query.orderBy.push_back(ParseColumnRef());
      while (AcceptSymbol(u","));
    }
    if (Peek().kind != TokenKind::End) throw SyntaxError{};
    query.parameterCount = parameters_;
    return query;
  }

 private:
  const Token& Peek() const { return tokens_[position_]; }

  bool IsKeyword(const Token& token, const char16_t* keyword) const {
    return token.kind == TokenKind::Name && EqualsNoCase(token.text, keyword);
  }

  bool IsReserved(const Token& token) const {
    for (const char16_t* keyword :
         {u"SELECT", u"FROM", u"WHERE", u"AND", u"OR", u"IS", u"NOT", u"NULL", u"ORDER", u"BY"})
      if (IsKeyword(token, keyword)) return true;
    return false;
  }

  bool AcceptKeyword(const char16_t* keyword) {
    if (!IsKeyword(Peek(), keyword)) return false;
    ++position_;
    return true;
  }

  void ExpectKeyword(const char16_t* keyword) {
    if (!AcceptKeyword(keyword)) throw SyntaxError{};
  }

  bool AcceptSymbol(const char16_t* symbol) {
    if (Peek().kind != TokenKind::Symbol || Peek().text != symbol) return false;
    ++position_;
    return true;
  }

  Text ParseName() {
    const Token& token = Peek();
    if (token.kind == TokenKind::QuotedName ||
        (token.kind == TokenKind::Name && !IsReserved(token))) {
      ++position_;
      return token.text;
    }
    throw SyntaxError{};
  }

  ColumnRef ParseColumnRef() {
    ColumnRef ref;
    ref.name = ParseName();
    if (AcceptSymbol(u".")) {
      ref.table = ref.name;
      ref.name = ParseName();
    }
    return ref;
  }

  bool IsColumnStart() const {
    const Token& token = Peek();
    return token.kind == TokenKind::QuotedName ||
           (token.kind == TokenKind::Name && !IsReserved(token));
  }

  std::unique_ptr<Condition> Combine(Condition::Kind kind, std::unique_ptr<Condition> left,
                                     std::unique_ptr<Condition> right) {
    auto node = std::make_unique<Condition>();
    node->kind = kind;
    node->left = std::move(left);
    node->right = std::move(right);
    return node;
  }

  std::unique_ptr<Condition> ParseOr() {
    auto left = ParseAnd();
    while (AcceptKeyword(u"OR")) left = Combine(Condition::Kind::Or, std::move(left), ParseAnd());
    return left;
  }

  std::unique_ptr<Condition> ParseAnd() {
    auto left = ParsePrimary();
    while (AcceptKeyword(u"AND"))
      left = Combine(Condition::Kind::And, std::move(left), ParsePrimary());
    return left;
  }

  std::unique_ptr<Condition> ParsePrimary() {
    if (AcceptSymbol(u"(")) {
      auto inner = ParseOr();
      if (!AcceptSymbol(u")")) throw SyntaxError{};
      return inner;
    }
    auto node = std::make_unique<Condition>();
    node->column = ParseColumnRef();
    if (AcceptKeyword(u"IS")) {
      node->kind = AcceptKeyword(u"NOT") ? Condition::Kind::IsNotNull : Condition::Kind::IsNull;
      ExpectKeyword(u"NULL");
      return node;
    }
    node->kind = Condition::Kind::Compare;
    node->op = ParseOp();
    node->value = ParseValue();
    return node;
  }

  Op ParseOp() {
    static const std::pair<const char16_t*, Op> kOps[] = {
        {u"=", Op::Equal},   {u"<>", Op::NotEqual},  {u"<", Op::Less},
        {u">", Op::Greater}, {u"<=", Op::LessEqual}, {u">=", Op::GreaterEqual}};
    for (const auto& [symbol, op] : kOps)
      if (AcceptSymbol(symbol)) return op;
    throw SyntaxError{};
  }

  Operand ParseValue() {
    Operand value;
    const Token& token = Peek();
    if (token.kind == TokenKind::String) {
      value.kind = Operand::Kind::Text;
      value.text = token.text;
      ++position_;
    } else if (token.kind == TokenKind::Integer) {
      value.kind = Operand::Kind::Integer;
      value.number = token.number;
      ++position_;
    } else if (AcceptSymbol(u"?")) {
      value.kind = Operand::Kind::Parameter;
      value.parameter = parameters_++;
    } else if (IsColumnStart()) {
      value.kind = Operand::Kind::Column;
      value.column = ParseColumnRef();
    } else {
      throw SyntaxError{};
    }
    return value;
  }

  std::vector<Token> tokens_;
  size_t position_ = 0;
  size_t parameters_ = 0;
};

void Resolve(ColumnRef& ref, const Text& tableName, const Table& table) {
  if (!ref.table.empty() && ref.table != tableName) throw SyntaxError{};
  for (size_t i = 0; i < table.columns.size(); ++i) {
    if (table.columns[i].name == ref.name) {
      ref.index = i;
      return;
    }
  }
  throw SyntaxError{};
}

void Resolve(Condition* condition, const Text& tableName, const Table& table) {
  if (!condition) return;
  Resolve(condition->left.get(), tableName, table);
  Resolve(condition->right.get(), tableName, table);
  if (condition->kind == Condition::Kind::And || condition->kind == Condition::Kind::Or) return;
  Resolve(condition->column, tableName, table);
  if (condition->kind == Condition::Kind::Compare && condition->value.kind == Operand::Kind::Column)
    Resolve(condition->value.column, tableName, table);
}

bool IsInteger(ColumnType type) { return type == ColumnType::Int16 || type == ColumnType::Int32; }

bool IsNullCell(const Cell& cell) {
  if (std::holds_alternative<std::monostate>(cell)) return true;
  if (auto text = std::get_if<Text>(&cell)) return text->empty();
  if (auto number = std::get_if<int>(&cell)) return *number == MSI_NULL_INTEGER;
  return false;
}

// The installer stores an empty text as null, so texts compare with null as ''.
Text TextOf(const Cell& cell) {
  if (auto text = std::get_if<Text>(&cell)) return *text;
  if (auto number = std::get_if<int>(&cell))
    return *number == MSI_NULL_INTEGER ? Text() : DecimalText(*number);
  return Text();
}

// An integer column's view of a value: null, an integer, or no integer at all (a text that is
// not a number, which equals nothing).
struct IntegerView {
  enum class Kind { Null, Number, NotANumber } kind;
  int value;
};

IntegerView IntegerOf(const Cell& cell) {
  if (IsNullCell(cell)) return {IntegerView::Kind::Null, 0};
  if (auto number = std::get_if<int>(&cell)) return {IntegerView::Kind::Number, *number};
  if (auto text = std::get_if<Text>(&cell)) {
    if (auto parsed = ParseInteger(*text)) return {IntegerView::Kind::Number, *parsed};
  }
  return {IntegerView::Kind::NotANumber, 0};
}

template <class T>
bool Ordered(const T& left, Op op, const T& right) {
  switch (op) {
    case Op::Equal:
      return left == right;
    case Op::NotEqual:
      return left != right;
    case Op::Less:
      return left < right;
    case Op::Greater:
      return left > right;
    case Op::LessEqual:
      return left <= right;
    case Op::GreaterEqual:
      return left >= right;
  }
  return false;
}

bool Compare(ColumnType type, const Cell& left, Op op, const Cell& right) {
  if (type == ColumnType::Text) return Ordered(TextOf(left), op, TextOf(right));
  if (IsInteger(type)) {
    using Kind = IntegerView::Kind;
    IntegerView a = IntegerOf(left);
    IntegerView b = IntegerOf(right);
    if (a.kind == Kind::NotANumber || b.kind == Kind::NotANumber) return op == Op::NotEqual;
    if (a.kind == Kind::Null || b.kind == Kind::Null) {
      bool same = a.kind == b.kind;
      if (op == Op::Equal) return same;
      if (op == Op::NotEqual) return !same;
      return false;
    }
    return Ordered(a.value, op, b.value);
  }
  bool same = (IsNullCell(left) && IsNullCell(right)) || left == right;
  if (op == Op::Equal) return same;
  if (op == Op::NotEqual) return !same;
  return false;
}

bool Evaluate(const Condition& condition, const Table& table, const Row& row,
              const std::vector<Cell>& parameters) {
  switch (condition.kind) {
    case Condition::Kind::And:
      return Evaluate(*condition.left, table, row, parameters) &&
             Evaluate(*condition.right, table, row, parameters);
    case Condition::Kind::Or:
      return Evaluate(*condition.left, table, row, parameters) ||
             Evaluate(*condition.right, table, row, parameters);
    case Condition::Kind::IsNull:
      return IsNullCell(row.cells[condition.column.index]);
    case Condition::Kind::IsNotNull:
      return !IsNullCell(row.cells[condition.column.index]);
    case Condition::Kind::Compare:
      break;
  }
  Cell right;
  const Operand& value = condition.value;
  switch (value.kind) {
    case Operand::Kind::Text:
      right = value.text;
      break;
    case Operand::Kind::Integer:
      right = value.number;
      break;
    case Operand::Kind::Parameter:
      right = parameters[value.parameter];
      break;
    case Operand::Kind::Column:
      right = row.cells[value.column.index];
      break;
  }
  const Column& column = table.columns[condition.column.index];
  return Compare(column.type, row.cells[condition.column.index], condition.op, right);
}

// Sort order for ORDER BY: nulls first, then integers by value, texts by code unit.
bool CellLess(const Cell& left, const Cell& right) {
  bool leftNull = IsNullCell(left);
  bool rightNull = IsNullCell(right);
  if (leftNull || rightNull) return leftNull && !rightNull;
  if (left.index() != right.index()) return left.index() < right.index();
  return left < right;
}

enum class CellError { None, Type, Overflow };

struct Converted {
  Cell cell;
  CellError error = CellError::None;
};

// A value as the column stores it. `strict` (the control interface) takes only the column's own
// type; records convert as the installer converts them (integers to text, numeric text to
// integers).
Converted ConvertIn(const Column& column, const Cell& cell, bool strict) {
  if (IsNullCell(cell)) return {Cell()};
  switch (column.type) {
    case ColumnType::Text:
      if (std::holds_alternative<Text>(cell)) return {cell};
      if (!strict && std::holds_alternative<int>(cell)) return {TextOf(cell)};
      return {Cell(), CellError::Type};
    case ColumnType::Int16:
    case ColumnType::Int32: {
      std::optional<int> number;
      if (auto value = std::get_if<int>(&cell)) number = *value;
      if (auto text = std::get_if<Text>(&cell); text && !strict) number = ParseInteger(*text);
      if (!number) return {Cell(), CellError::Type};
      // The platform's i2 holds -32767..32767; -32768 is its null.
      if (column.type == ColumnType::Int16 && (*number < -32767 || *number > 32767))
        return {Cell(), CellError::Overflow};
      return {*number};
    }
    case ColumnType::Stream:
      if (std::holds_alternative<Bytes>(cell)) return {cell};
      return {Cell(), CellError::Type};
  }
  return {Cell(), CellError::Type};
}

std::vector<size_t> KeyColumns(const Table& table) {
  std::vector<size_t> keys;
  for (size_t i = 0; i < table.columns.size(); ++i)
    if (table.columns[i].primaryKey) keys.push_back(i);
  return keys;
}

bool SameKey(const Table& table, const std::vector<Cell>& a, const std::vector<Cell>& b) {
  auto keys = KeyColumns(table);
  if (keys.empty()) return false;
  for (size_t key : keys)
    if (a[key] != b[key]) return false;
  return true;
}

std::shared_ptr<Row> FindByKey(const Table& table, const std::vector<Cell>& cells,
                               const Row* except = nullptr) {
  for (const auto& row : table.rows)
    if (row.get() != except && SameKey(table, row->cells, cells)) return row;
  return nullptr;
}

Text TypeString(const Column& column) {
  auto mark = [&](char16_t lower) { return Text(1, column.nullable ? AsciiUpper(lower) : lower); };
  switch (column.type) {
    case ColumnType::Text:
      return mark(u's') + DecimalText(column.width);
    case ColumnType::Int16:
      return mark(u'i') + u"2";
    case ColumnType::Int32:
      return mark(u'i') + u"4";
    case ColumnType::Stream:
      return mark(u'v') + u"0";
  }
  return Text();
}

struct View : Object {
  std::shared_ptr<Database> database;  // keeps the database alive after its handle is closed
  std::shared_ptr<Table> table;
  Query query;
  std::vector<size_t> columns;  // selected column indexes, in field order
  bool executed = false;
  std::vector<Cell> parameters;
  std::vector<std::shared_ptr<Row>> result;
  size_t position = 0;
  // Which row each record fetched (or sought) through this view stands for. Handles are never
  // reused, so an entry of a closed record can never match a live one.
  std::map<MSIHANDLE, std::weak_ptr<Row>> fetched;
  Text errorColumn;
  MSIDBERROR error = MSIDBERROR_NOERROR;
};

std::shared_ptr<Database> DatabaseById(DatabaseId id) {
  auto found = state().databases.find(id);
  if (found == state().databases.end())
    throw std::invalid_argument("hostctl: unknown database id " + std::to_string(id));
  return found->second;
}

std::shared_ptr<Table> TableByName(DatabaseId id, const Text& name) {
  auto database = DatabaseById(id);
  auto found = database->tables.find(name);
  if (found == database->tables.end())
    throw std::invalid_argument("hostctl: unknown table " + hostctl::ToUtf8(name));
  return found->second;
}

MSIHANDLE NewDatabaseHandle(std::shared_ptr<Database> database) {
  auto handle = std::make_shared<DatabaseHandle>();
  handle->database = std::move(database);
  return NewHandle(handle);
}

MSIHANDLE NewRecordHandle(std::vector<Cell> fieldsFromOne) {
  auto record = std::make_shared<Record>();
  record->fields.reserve(fieldsFromOne.size() + 1);
  record->fields.emplace_back();
  for (auto& cell : fieldsFromOne) record->fields.push_back(std::move(cell));
  return NewHandle(record);
}

void FillRecord(const View& view, const Row& row, Record& record) {
  if (record.fields.size() < view.columns.size() + 1) record.fields.resize(view.columns.size() + 1);
  for (size_t i = 0; i < view.columns.size(); ++i)
    record.fields[i + 1] = row.cells[view.columns[i]];
}

std::shared_ptr<Row> FetchedRow(const View& view, MSIHANDLE record) {
  auto found = view.fetched.find(record);
  if (found == view.fetched.end()) return nullptr;
  auto row = found->second.lock();
  return row && !row->deleted ? row : nullptr;
}

void RemoveRow(Table& table, const std::shared_ptr<Row>& row) {
  row->deleted = true;
  table.rows.erase(std::remove(table.rows.begin(), table.rows.end(), row), table.rows.end());
}

UINT Fail(View& view, size_t column, MSIDBERROR error) {
  view.errorColumn = view.table->columns[column].name;
  view.error = error;
  return ERROR_FUNCTION_FAILED;
}

// The row a record describes: `base` with the view's columns taken from the record. Fails (and
// records the error column) when a field does not fit its column.
std::optional<std::vector<Cell>> CellsFromRecord(View& view, const Record& record,
                                                 std::vector<Cell> base, UINT& code) {
  if (record.fields.size() < view.columns.size() + 1) {
    code = ERROR_FUNCTION_FAILED;
    return std::nullopt;
  }
  for (size_t i = 0; i < view.columns.size(); ++i) {
    size_t index = view.columns[i];
    Converted converted = ConvertIn(view.table->columns[index], record.fields[i + 1], false);
    if (converted.error != CellError::None) {
      code = Fail(view, index,
                  converted.error == CellError::Overflow ? kOverflow : MSIDBERROR_FUNCTIONERROR);
      return std::nullopt;
    }
    base[index] = std::move(converted.cell);
  }
  for (size_t key : KeyColumns(*view.table)) {
    if (IsNullCell(base[key])) {
      code = Fail(view, key, kRequired);
      return std::nullopt;
    }
  }
  return base;
}

UINT InsertRow(View& view, std::vector<Cell> cells, const Row* replacing = nullptr) {
  Table& table = *view.table;
  if (FindByKey(table, cells, replacing))
    return Fail(view, KeyColumns(table).front(), kDuplicateKey);
  auto row = std::make_shared<Row>();
  row->cells = std::move(cells);
  table.rows.push_back(row);
  return ERROR_SUCCESS;
}

UINT Modify(View& view, MSIMODIFY action, MSIHANDLE recordHandle, Record& record) {
  Table& table = *view.table;
  const std::vector<Cell> empty(table.columns.size());
  UINT code = ERROR_SUCCESS;
  switch (action) {
    case MSIMODIFY_INSERT:
    case MSIMODIFY_INSERT_TEMPORARY: {
      auto cells = CellsFromRecord(view, record, empty, code);
      return cells ? InsertRow(view, std::move(*cells)) : code;
    }
    case MSIMODIFY_ASSIGN:
    case MSIMODIFY_MERGE: {
      auto cells = CellsFromRecord(view, record, empty, code);
      if (!cells) return code;
      auto existing = FindByKey(table, *cells);
      if (!existing) return InsertRow(view, std::move(*cells));
      for (size_t index : view.columns) {
        if (action == MSIMODIFY_ASSIGN)
          existing->cells[index] = (*cells)[index];
        else if (existing->cells[index] != (*cells)[index])
          return Fail(view, index, MSIDBERROR_FUNCTIONERROR);
      }
      return ERROR_SUCCESS;
    }
    case MSIMODIFY_UPDATE:
    case MSIMODIFY_REPLACE: {
      auto row = FetchedRow(view, recordHandle);
      if (!row) return ERROR_FUNCTION_FAILED;
      auto cells = CellsFromRecord(view, record, row->cells, code);
      if (!cells) return code;
      if (SameKey(table, row->cells, *cells) || KeyColumns(table).empty()) {
        row->cells = std::move(*cells);
        return ERROR_SUCCESS;
      }
      if (action == MSIMODIFY_UPDATE) {
        for (size_t key : KeyColumns(table))
          if (row->cells[key] != (*cells)[key]) return Fail(view, key, MSIDBERROR_FUNCTIONERROR);
      }
      code = InsertRow(view, std::move(*cells), row.get());
      if (code != ERROR_SUCCESS) return code;
      RemoveRow(table, row);
      view.fetched[recordHandle] = table.rows.back();
      return ERROR_SUCCESS;
    }
    case MSIMODIFY_DELETE: {
      auto row = FetchedRow(view, recordHandle);
      if (!row) return ERROR_FUNCTION_FAILED;
      RemoveRow(table, row);
      return ERROR_SUCCESS;
    }
    case MSIMODIFY_REFRESH: {
      auto row = FetchedRow(view, recordHandle);
      if (!row) return ERROR_FUNCTION_FAILED;
      FillRecord(view, *row, record);
      return ERROR_SUCCESS;
    }
    case MSIMODIFY_SEEK: {
      auto keys = KeyColumns(table);
      for (size_t key : keys)
        if (std::find(view.columns.begin(), view.columns.end(), key) == view.columns.end())
          return ERROR_FUNCTION_FAILED;
      auto cells = CellsFromRecord(view, record, empty, code);
      if (!cells) return code;
      auto row = FindByKey(table, *cells);
      if (!row) return ERROR_FUNCTION_FAILED;
      FillRecord(view, *row, record);
      view.fetched[recordHandle] = row;
      return ERROR_SUCCESS;
    }
    default:
      return ERROR_INVALID_PARAMETER;
  }
}

}  // namespace

void ResetDatabases() { state() = DatabaseState{}; }

}  // namespace hostplatform

using hostplatform::Enter;
using hostplatform::Find;

MSIHANDLE MsiGetActiveDatabase(MSIHANDLE install) {
  if (auto failed = Enter("MsiGetActiveDatabase")) return static_cast<MSIHANDLE>(*failed);
  auto session = Find<hostplatform::Session>(install);
  if (!session) return 0;
  auto& databases = hostplatform::state().databases;
  auto found = databases.find(session->activeDatabase);
  if (found == databases.end()) return 0;
  return hostplatform::NewDatabaseHandle(found->second);
}

UINT MsiOpenDatabaseW(LPCWSTR path, LPCWSTR persist, MSIHANDLE* database) {
  if (database) *database = 0;
  if (auto failed = Enter("MsiOpenDatabaseW")) return static_cast<UINT>(*failed);
  (void)persist;  // open modes and output paths make no difference in memory
  if (!path || !database) return ERROR_INVALID_PARAMETER;
  for (const auto& [registered, id] : hostplatform::state().paths) {
    if (!hostplatform::EqualsNoCase(registered, path)) continue;
    *database = hostplatform::NewDatabaseHandle(hostplatform::state().databases.at(id));
    return ERROR_SUCCESS;
  }
  return ERROR_OPEN_FAILED;
}

UINT MsiDatabaseOpenViewW(MSIHANDLE database, LPCWSTR query, MSIHANDLE* view) {
  if (view) *view = 0;
  if (auto failed = Enter("MsiDatabaseOpenViewW")) return static_cast<UINT>(*failed);
  auto handle = Find<hostplatform::DatabaseHandle>(database);
  if (!handle) return ERROR_INVALID_HANDLE;
  if (!query || !view) return ERROR_INVALID_PARAMETER;
  auto created = std::make_shared<hostplatform::View>();
  try {
    created->query = hostplatform::Parser(hostplatform::Tokenize(query)).Parse();
    auto found = handle->database->tables.find(created->query.table);
    if (found == handle->database->tables.end()) throw hostplatform::SyntaxError{};
    const auto& table = *found->second;
    auto& parsed = created->query;
    for (auto& column : parsed.columns) hostplatform::Resolve(column, parsed.table, table);
    for (auto& column : parsed.orderBy) hostplatform::Resolve(column, parsed.table, table);
    hostplatform::Resolve(parsed.where.get(), parsed.table, table);
    created->table = found->second;
  } catch (const hostplatform::SyntaxError&) {
    return ERROR_BAD_QUERY_SYNTAX;
  }
  created->database = handle->database;
  if (created->query.allColumns) {
    for (size_t i = 0; i < created->table->columns.size(); ++i) created->columns.push_back(i);
  } else {
    for (const auto& column : created->query.columns) created->columns.push_back(column.index);
  }
  *view = hostplatform::NewHandle(created);
  return ERROR_SUCCESS;
}

UINT MsiViewExecute(MSIHANDLE view, MSIHANDLE parameters) {
  if (auto failed = Enter("MsiViewExecute")) return static_cast<UINT>(*failed);
  auto target = Find<hostplatform::View>(view);
  if (!target) return ERROR_INVALID_HANDLE;
  std::vector<hostctl::Cell> values;
  if (parameters != 0) {
    auto record = Find<hostplatform::Record>(parameters);
    if (!record) return ERROR_INVALID_HANDLE;
    values.assign(record->fields.begin() + std::min<size_t>(1, record->fields.size()),
                  record->fields.end());
  }
  if (values.size() < target->query.parameterCount) return ERROR_INVALID_PARAMETER;
  target->parameters = std::move(values);
  target->result.clear();
  const auto& table = *target->table;
  for (const auto& row : table.rows) {
    if (!target->query.where ||
        hostplatform::Evaluate(*target->query.where, table, *row, target->parameters))
      target->result.push_back(row);
  }
  const auto& orderBy = target->query.orderBy;
  if (!orderBy.empty()) {
    std::stable_sort(target->result.begin(), target->result.end(),
                     [&](const auto& a, const auto& b) {
                       for (const auto& column : orderBy) {
                         if (hostplatform::CellLess(a->cells[column.index], b->cells[column.index]))
                           return true;
                         if (hostplatform::CellLess(b->cells[column.index], a->cells[column.index]))
                           return false;
                       }
                       return false;
                     });
  }
  target->position = 0;
  target->executed = true;
  return ERROR_SUCCESS;
}

UINT MsiViewFetch(MSIHANDLE view, MSIHANDLE* record) {
  if (record) *record = 0;
  if (auto failed = Enter("MsiViewFetch")) return static_cast<UINT>(*failed);
  auto target = Find<hostplatform::View>(view);
  if (!target) return ERROR_INVALID_HANDLE;
  if (!record) return ERROR_INVALID_PARAMETER;
  if (!target->executed) return ERROR_FUNCTION_FAILED;
  // Rows deleted since the execute are skipped; changed rows are fetched as they are now.
  while (target->position < target->result.size() && target->result[target->position]->deleted)
    ++target->position;
  if (target->position == target->result.size()) return ERROR_NO_MORE_ITEMS;
  const auto& row = target->result[target->position++];
  auto fetched = std::make_shared<hostplatform::Record>();
  hostplatform::FillRecord(*target, *row, *fetched);
  *record = hostplatform::NewHandle(fetched);
  target->fetched[*record] = row;
  return ERROR_SUCCESS;
}

UINT MsiViewModify(MSIHANDLE view, MSIMODIFY action, MSIHANDLE record) {
  if (auto failed = Enter("MsiViewModify")) return static_cast<UINT>(*failed);
  auto target = Find<hostplatform::View>(view);
  auto fields = Find<hostplatform::Record>(record);
  if (!target || !fields) return ERROR_INVALID_HANDLE;
  target->errorColumn.clear();
  target->error = MSIDBERROR_NOERROR;
  if (!target->executed) return ERROR_FUNCTION_FAILED;
  return hostplatform::Modify(*target, action, record, *fields);
}

UINT MsiViewGetColumnInfo(MSIHANDLE view, MSICOLINFO info, MSIHANDLE* record) {
  if (record) *record = 0;
  if (auto failed = Enter("MsiViewGetColumnInfo")) return static_cast<UINT>(*failed);
  auto target = Find<hostplatform::View>(view);
  if (!target) return ERROR_INVALID_HANDLE;
  if (!record || (info != MSICOLINFO_NAMES && info != MSICOLINFO_TYPES))
    return ERROR_INVALID_PARAMETER;
  std::vector<hostctl::Cell> fields;
  for (size_t index : target->columns) {
    const auto& column = target->table->columns[index];
    fields.emplace_back(info == MSICOLINFO_NAMES ? column.name : hostplatform::TypeString(column));
  }
  *record = hostplatform::NewRecordHandle(std::move(fields));
  return ERROR_SUCCESS;
}

UINT MsiViewClose(MSIHANDLE view) {
  if (auto failed = Enter("MsiViewClose")) return static_cast<UINT>(*failed);
  auto target = Find<hostplatform::View>(view);
  if (!target) return ERROR_INVALID_HANDLE;
  target->executed = false;
  target->result.clear();
  target->position = 0;
  return ERROR_SUCCESS;
}

MSIDBERROR MsiViewGetErrorW(MSIHANDLE view, LPWSTR buffer, LPDWORD capacity) {
  if (auto failed = Enter("MsiViewGetErrorW")) return static_cast<MSIDBERROR>(*failed);
  auto target = Find<hostplatform::View>(view);
  if (!target || !capacity) return MSIDBERROR_INVALIDARG;
  if (hostplatform::CopyOut(target->errorColumn, buffer, capacity) == ERROR_MORE_DATA)
    return MSIDBERROR_MOREDATA;
  return target->error;
}

namespace hostctl {

DatabaseId CreateDatabase() {
  auto& state = hostplatform::state();
  DatabaseId id = state.nextId++;
  state.databases[id] = std::make_shared<hostplatform::Database>();
  return id;
}

void AddTable(DatabaseId database, const Text& table, const std::vector<Column>& columns) {
  auto target = hostplatform::DatabaseById(database);
  if (table.empty() || columns.empty() || target->tables.count(table))
    throw std::invalid_argument("hostctl::AddTable: empty or duplicate table " + ToUtf8(table));
  for (size_t i = 0; i < columns.size(); ++i) {
    for (size_t j = 0; j < i; ++j)
      if (columns[i].name == columns[j].name)
        throw std::invalid_argument("hostctl::AddTable: duplicate column " +
                                    ToUtf8(columns[i].name));
  }
  auto created = std::make_shared<hostplatform::Table>();
  created->columns = columns;
  target->tables[table] = created;
}

void AddRow(DatabaseId database, const Text& table, const std::vector<Cell>& row) {
  auto target = hostplatform::TableByName(database, table);
  if (row.size() != target->columns.size())
    throw std::invalid_argument("hostctl::AddRow: wrong number of cells for " + ToUtf8(table));
  auto added = std::make_shared<hostplatform::Row>();
  for (size_t i = 0; i < row.size(); ++i) {
    auto converted = hostplatform::ConvertIn(target->columns[i], row[i], true);
    if (converted.error != hostplatform::CellError::None)
      throw std::invalid_argument("hostctl::AddRow: cell does not fit column " +
                                  ToUtf8(target->columns[i].name));
    added->cells.push_back(std::move(converted.cell));
  }
  if (hostplatform::FindByKey(*target, added->cells))
    throw std::invalid_argument("hostctl::AddRow: duplicate primary key in " + ToUtf8(table));
  target->rows.push_back(added);
}

std::vector<std::vector<Cell>> Rows(DatabaseId database, const Text& table) {
  std::vector<std::vector<Cell>> rows;
  for (const auto& row : hostplatform::TableByName(database, table)->rows)
    rows.push_back(row->cells);
  return rows;
}

void AddRegistryTable(DatabaseId database) {
  AddTable(database, u"Registry",
           {{u"Registry", ColumnType::Text, false, true, 72},
            {u"Root", ColumnType::Int16, false, false, 0},
            {u"Key", ColumnType::Text, false, false, 255},
            {u"Name", ColumnType::Text, true, false, 255},
            {u"Value", ColumnType::Text, true, false, 0},
            {u"Component_", ColumnType::Text, false, false, 72}});
}

void AddRegistryRow(DatabaseId database, const Text& registry, int root, const Text& key,
                    const std::optional<Text>& name, const std::optional<Text>& value,
                    const Text& component) {
  auto optionalCell = [](const std::optional<Text>& text) { return text ? Cell(*text) : Cell(); };
  AddRow(database, u"Registry",
         {registry, root, key, optionalCell(name), optionalCell(value), component});
}

void SetActiveDatabase(MSIHANDLE session, DatabaseId database) {
  auto target = hostplatform::Find<hostplatform::Session>(session);
  if (!target) throw std::invalid_argument("hostctl::SetActiveDatabase: not a session handle");
  if (database != 0) hostplatform::DatabaseById(database);
  target->activeDatabase = database;
}

void RegisterDatabasePath(const Text& path, DatabaseId database) {
  hostplatform::DatabaseById(database);
  auto& paths = hostplatform::state().paths;
  for (auto& [registered, id] : paths) {
    if (hostplatform::EqualsNoCase(registered, path)) {
      id = database;
      return;
    }
  }
  paths.emplace_back(path, database);
}

}  // namespace hostctl

namespace hostplatform {

DatabaseId DatabaseOfHandle(MSIHANDLE handle) {
  auto found = Find<DatabaseHandle>(handle);
  if (!found) return 0;
  for (const auto& [id, database] : state().databases)
    if (database == found->database) return id;
  return 0;
}

DatabaseId DatabaseOfPath(const Text& path) {
  for (const auto& [registered, id] : state().paths)
    if (EqualsNoCase(registered, path)) return id;
  return 0;
}

}  // namespace hostplatform

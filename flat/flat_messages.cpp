// The file SQL engine's string table: messages 3800-4099, which every file
// driver's connection serves through getDriverResourceStr. The texts are the
// engine's own and stand exactly as they are, spelling and trailing blanks
// included. The table is sorted by id (checked at compile time), because
// lookups search it by halves.
#include "flat/flat_errors.h"
#include "flat/flat_message_ids.h"

#include <algorithm>
#include <cstring>

#include "base/handles/base_messages.h"
#include "util/resource.h"

namespace {

constexpr KvMessage flatMessages[] = {
    {3800, "Unknown SQL statement"},
    {3801, "CREATE must be followed by TABLE or INDEX"},
    {3803, "Unexpected text at end of SQL statement: %s1 "},
    {3804, "Keyword found more than once : %s1 "},
    {3805, "Unknown option: %s1"},
    {3811, "Cannot delete file: %s1 "},
    {3813, "The filename does not exist: %s1"},
    {3820, "Missing table name in CREATE TABLE statement"},
    {3821, "Missing left parenthesis in CREATE TABLE statement"},
    {3822, "Column name contains illegal characters: %s1 "},
    {3823, "Column name too long: %s1 "},
    {3824, "Missing right parenthesis in CREATE TABLE statement"},
    {3825, "Unknown datatype in CREATE TABLE statement: %s1 "},
    {3826, "The column limit of %n1 has been exceeded."},
    {3830, "Missing index name in CREATE INDEX statement"},
    {3831, "Missing ON keyword in CREATE INDEX statement"},
    {3832, "Missing table name in CREATE INDEX statement"},
    {3833, "Missing left parenthesis in CREATE INDEX statement"},
    {3834, "Missing right parenthesis in CREATE INDEX statement"},
    {3835, "Index name too long: %s1 "},
    {3836, "Cannot have create index statements within a transaction."},
    {3838, "Cannot create index with a pre-existing index name: %s1 "},
    {3840, "Missing INTO keyword in INSERT statement"},
    {3841, "Missing table name in INSERT statement"},
    {3842, "Column names in an INSERT statement must be followed by a ',' or ')'"},
    {3843, "Missing VALUES keyword in INSERT statement"},
    {3844, "Missing left parenthesis in INSERT statement"},
    {3845, "Values in an INSERT statement must be followed by a ',' or ')'"},
    {3846, "An incorrect number of values appear in the VALUES clause of an INSERT statement"},
    {3849, "An INSERT value didn't match the data type of its corresponding column"},
    {3850, "Missing table name in UPDATE statement"},
    {3851, "Missing SET keyword in UPDATE statement"},
    {3852, "Missing column name in UPDATE statement"},
    {3853, "Missing '=' following column name in UPDATE statement: %s1 "},
    {3854, "Mismatched parentheses in expression for a column in an UPDATE statement: %s1 "},
    {3855, "Star (*) references are not allowed in UPDATE statements"},
    {3856, "An expression was found where an UPDATE column name should appear"},
    {3857, "An UPDATE expression didn't match the data type of its corresponding column"},
    {3858, "Missing field name in UPDATE statement"},
    {3860, "Missing FROM keyword in DELETE statement"},
    {3861, "Missing table name in DELETE statement"},
    {3865, "Cannot modify a table which has been opened read only."},
    {3870, "Missing table name in DROP TABLE statement"},
    {3880, "Missing index name in DROP INDEX statement"},
    {3881, "Missing table name in DROP INDEX statement"},
    {3900, "Missing SQL Clause:  %s1."},
    {3901, "Where clause must evaluate to TRUE or FALSE"},
    {3902, "Extra characters at end of query:  %s1."},
    {3903, "Field not found: %s1 "},
    {3904, "Ambiguous field name, qualify with file name: %s1 "},
    {3905, "An empty SQL clause was found"},
    {3906, "Syntax error in ORDER BY clause: %s1"},
    {3909, "Missing table name in SELECT statement"},
    {3920, "Unknown Function: %s1"},
    {3921, "String function offset out of range: %s1"},
    {3922, "Missing right parenthesis"},
    {3923, "Field not found: %s1"},
    {3924, "Incompatible datatypes in expression : %s1"},
    {3925, "Invalid operator: %s1"},
    {3926, "Argument has wrong data type in function: %s1"},
    {3927, "Incorrect number of arguments to function: %s1"},
    {3928, "Invalid column number in ORDER BY clause: %s1"},
    {3929, "More than one field has this name: %s1"},
    {3930, "Invalid logical constant: %s1"},
    {3931, "Value expected but not found"},
    {3932, "BETWEEN operator is missing AND"},
    {3933, "Incompatible datatypes in function "},
    {3934, "Missing left parenthesis"},
    {3935, "Parentheses nested too deeply.  Maximum nesting depth is 25."},
    {3936, "Aggregate functions are not allowed in either the WHERE clause or the GROUP BY clause."},
    {3937, "Cannot have constant in GROUP BY clause."},
    {3938, "Incorrect minute: %s1 "},
    {3939, "Incorrect second: %s1 "},
    {3940, "Invalid date value: %s1 "},
    {3941, "Incorrect month: %s1 "},
    {3942, "Incorrect day: %s1 "},
    {3943, "Incorrect hour: %s1 "},
    {3945, "String results cannot be greater than 1024 characters.  Query aborted!"},
    {3946, "Stack overflow in expression evaluator.  Query aborted!"},
    {3949, "Invalid scale specified."},
    {3952, "Value to CHR function must be between 1 and 255."},
    {3953, "Join in update is not allowed."},
    {3954, "Internal evaluator expression limit has been exceeded."},
    {3956, "Union in update is not allowed."},
    {3957, "Group in update is not allowed."},
    {3958, "Distinct in update is not allowed."},
    {3959, "The record to be locked has been deleted or changed."},
    {3961, "The record is locked by another user."},
    {3965, "Cannot pack, the file is in use."},
    {3966, "Cannot pack in the middle of a transaction."},
    {3971, "All non-aggregate fields in a select statement with a group by clause must be specified in the group by clause."},
    {3972, "Trying to find the average of a group which does not have any values."},
    {3973, "Cannot have nested aggregate functions : "},
    {3975, "There must be a Group By clause in order to have a Having clause. "},
    {3976, "Count (distinct *) is not valid ansi sql."},
    {3979, "Each SELECT statement in a UNION must return the same number of columns."},
    {3980, "The data types of column %n1 in the SELECT statements of a UNION are not compatible."},
    {3982, "The order by clause must specify the position of the column in select statements having union."},
    {3990, "The order by clause can contain only those columns that are in the select statements when using distinct. "},
    {3995, "The number of fields in the subquery is more than the number of fields in the main query."},
    {3996, "The sub query returns more than one record."},
    {4001, "Cannot have a bind parameter in the select list. "},
    {4002, "The SQL type given for parameter %n1 is inconsistent with its use in the SQL Statement."},
    {4010, "File already exists: %s1"},
    {4011, "You cannot update blank fields in an outer join"},
    {4013, "Cursor name not found in the currently active list of statements : %s1"},
    {4015, "Invalid file format: %s1"},
    {4016, "The database is encrypted and cannot be used"},
    {4017, "Invalid file name extension: %s1"},
    {4018, "Operation aborted!"},
    {4019, "You cannot save to a file that is already open: %s1"},
    {4020, "Column identifier %s1 is not a valid name."},
    {4022, "Invalid type name given for column %s1."},
    {4023, "Expecting creation parameters for column %s1."},
    {4024, "Expecting a positive integer value for column %s1's width or precision."},
    {4025, "Width or precision for column %s1 may not be greater than %n2."},
    {4026, "Expecting precision and scale for column %s1."},
    {4027, "Expecting a positive integer value for column %s1's scale."},
    {4028, "Scale for column %s1 cannot be greater than the precision (%n2)."},
    {4029, "Expecting ')' for column %s1."},
    {4030, "Expecting a ',' after the definition of column number %n1."},
    {4031, "Expecting ON table-name"},
    {4032, "index-name syntax should be: [index-qualifier.]index-identifier"},
    {4034, "Invalid index name %s1."},
    {4035, "You cannot delete a file that is already open: %s1"},
    {4036, "Table does not exist: %s1"},
    {4037, "Cannot create an index for an open table: %s1"},
    {4038, "Cannot delete an index for an open table."},
    {4039, "Driver does not support long data types in where clauses or computed fields."},
    {4040, "The not null constraint specified for column %s1 has been ignored."},
    {4041, "ROWID not supported."},
    {4042, "Row with this primary key already exists in table."},
    {4043, "Column name is not unique: %s1"},
    {4044, "The 32 shared open limit has been exceeded for table: %s1"},
    {4045, "Embedded NULL terminators are not allowed in SQL_C_CHAR parameters."},
    {4046, "The charset being used to open table does match charset used to previously open table.  The previous charset will be used."},
    // Limits this engine checks that the older design left unchecked.
    {4095, "The changes to table %s1 could not be committed; those not written are still in the transaction."},
    {4096, "A statement may use at most %n1 tables."},
    {4097, "The table %s1 has too many records for record numbers (at most %n2)."},
    {4098, "Parameter %n1 is a long value, but the statement has no table to keep it for."},
    {4099, "The name %s1 is longer than %n2 bytes."},
};

static_assert(flatMessages[0].id >= flatFirstMessage &&
                  flatMessages[sizeof(flatMessages) / sizeof(flatMessages[0]) - 1].id <= flatLastMessage,
              "the engine's messages lie in 3800-4099");

}  // namespace

KV_DEFINE_RESOURCE_FUNCTIONS(flatMessages)

namespace {

// The names of the creation parameters of a type, by kind.
constexpr struct {
  uint16_t id;
  const char* text;
} createParamNames[] = {
    {strCreateLength, "length"},
    {strCreateMaxLength, "max length"},
    {strCreatePrecision, "precision"},
    {strCreatePrecisionScale, "precision,scale"},
};

}  // namespace

short flatLoadString(uint16_t id, unsigned char* buffer, uint32_t size) {
  for (const auto& name : createParamNames) {
    if (name.id != id) continue;
    if (size == 0) return 0;
    const size_t length = std::min<size_t>(std::strlen(name.text), size - 1);
    std::memcpy(buffer, name.text, length);
    buffer[length] = 0;
    return short(length);
  }
  return loadResourceString(buffer, id, size);
}

KvError& addFlatError(uint16_t stateIndex, uint16_t msgId) {
  unsigned char text[512];
  text[0] = 0;
  loadResourceString(text, msgId, sizeof(text));
  return KvErrorKeeper::addError(new KvError(msgId, text, etError, stateIndex, 0));
}

KvError& addFlatWarning(uint16_t stateIndex, uint16_t msgId) {
  unsigned char text[512];
  text[0] = 0;
  loadResourceString(text, msgId, sizeof(text));
  return KvErrorKeeper::addError(new KvError(msgId, text, etWarning, stateIndex, 0));
}

KvError& addFlatSyntaxError(uint16_t msgId) { return addFlatError(stateSyntax, msgId); }

KvStatus flatCursorNotFound(const unsigned char* name, uint16_t length) {
  unsigned char text[256];
  const uint16_t shown = length < sizeof(text) - 1 ? length : uint16_t(sizeof(text) - 1);
  std::memcpy(text, name, shown);
  text[shown] = 0;
  addFlatError(stateGeneral, msgCursorNotFound) << text;
  return kvFailure;
}

// The SELECT parser's parts inside the engine (not exported): one query
// (flat_select_parse.cpp), its select list (flat_select_list.cpp), and the
// checks that the GROUP BY and ORDER BY stages apply. The statement's own
// entry is FlatStatement::prepareSelect (flat_prepare_select.cpp); the
// expression compiler calls flatParseQuery for subqueries.
#pragma once

#include "flat/flat_types.h"

// Parses one SELECT at text into query: its FROM tables (opened through the
// driver), select list, WHERE, GROUP BY and HAVING. With end null the whole
// text must belong to the query (an ORDER, UNION or FOR gives 3902);
// otherwise *end is set at the keyword that ended the query, or null when
// the text ended.
KvStatus flatParseQuery(FlatStatement* statement, FlatSqlDesc* query, const unsigned char* text,
                        const unsigned char** end);
// The select list between listStart and listEnd (the FROM keyword).
KvStatus flatParseSelectList(FlatStatement* statement, FlatSqlDesc* query, const unsigned char* listStart,
                             const unsigned char* listEnd);
// Whether a qualifier names the table: its correlation name, or without
// one its file name (or its name as written), ignoring case.
bool flatTableAnswersTo(FlatFileDesc* table, const unsigned char* qualifier);
// How a name matches the columns of one table.
enum FlatColumnMatch : int { flatNoColumn = 0, flatOneColumn = 1, flatAmbiguousColumn = 2 };
// The column of the table that a name names: the column of exactly that
// name; else the one whose name equals it without regard to case, since
// the scanner upper-cases unquoted names while other programs name fields
// in lower or mixed case. Two columns that match only so (they differ from
// each other only in case) make the name ambiguous: 3929 is added, naming
// both.
FlatColumnMatch flatFindColumn(FlatFileDesc* table, const unsigned char* name, uint16_t* column);
// Every select item that refers to a column must stand in the GROUP BY
// programs: an expression's program at an instruction boundary, a plain
// column as a whole item. Otherwise 3971.
KvStatus flatCheckGroupByCoverage(FlatSqlDesc* query);
// With DISTINCT, every ORDER BY item must be the program (or the column) of
// a select item. Otherwise 3990.
KvStatus flatCheckDistinctOrderBy(FlatSqlDesc* head);

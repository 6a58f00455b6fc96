#pragma once

struct sqlite3;

namespace SystemLog {

// The text index's tokenizer (TextTokens), made known to SQLite's FTS5 on a
// connection under kName. Every connection that reads or writes the index
// registers it first: SQLite keeps tokenizers per connection, and a
// connection without it cannot even open the index's tables. A query's
// strings are taken as index words verbatim (the search builds them with
// TextTokens::termsOf), so that the words of a MATCH expression are exactly
// the ones asked for.
namespace IndexTokenizer {

constexpr const char* kName = "vxlog_words";

// SQLite's result code.
int registerOn(sqlite3* db);

} // namespace IndexTokenizer

} // namespace SystemLog

#include "search/IndexTokenizer.h"

#include <sqlite3.h>

#include "search/TextTokens.h"

namespace SystemLog {

namespace IndexTokenizer {

namespace {

// The tokenizer keeps no state: one static object stands for every instance.
Fts5Tokenizer* instance()
{
    static int tag = 0;
    return reinterpret_cast<Fts5Tokenizer*>(&tag);
}

int create(void*, const char**, int, Fts5Tokenizer** out)
{
    *out = instance();
    return SQLITE_OK;
}

void destroy(Fts5Tokenizer*) {}

using TokenCallback = int (*)(void*, int, const char*, int, int, int);

int tokenize(Fts5Tokenizer*, void* context, int flags, const char* text, int length, TokenCallback token)
{
    if (flags & FTS5_TOKENIZE_QUERY)
        return length > 0 ? token(context, 0, text, length, 0, length) : SQLITE_OK;
    int rc = SQLITE_OK;
    TextTokens::forEachToken(text, length, [&](const char* word, int size) {
        if (rc == SQLITE_OK)
            rc = token(context, 0, word, size, 0, length);
    });
    return rc;
}

fts5_api* fts5Of(sqlite3* db)
{
    fts5_api* api = nullptr;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT fts5(?1)", -1, &statement, nullptr) != SQLITE_OK)
        return nullptr;
    sqlite3_bind_pointer(statement, 1, &api, "fts5_api_ptr", nullptr);
    sqlite3_step(statement);
    sqlite3_finalize(statement);
    return api;
}

} // namespace

int registerOn(sqlite3* db)
{
    fts5_api* api = fts5Of(db);
    if (!api || api->iVersion < 2)
        return SQLITE_ERROR;
    static fts5_tokenizer tokenizer = {&create, &destroy, &tokenize};
    return api->xCreateTokenizer(api, kName, nullptr, &tokenizer, nullptr);
}

} // namespace IndexTokenizer

} // namespace SystemLog

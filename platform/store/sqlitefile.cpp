#include "sqlitefile.h"

#include <cstddef>
#include <utility>

namespace lumo::sqlite {

namespace {

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF,
// and no NUL, which would cut the text short in the widgets.
bool isUtf8WithoutNul(const unsigned char* bytes, std::size_t size)
{
    std::size_t i = 0;
    while (i < size) {
        const unsigned lead = bytes[i];
        if (lead == 0)
            return false;
        if (lead < 0x80) {
            ++i;
            continue;
        }
        // Lead byte 110xxxxx, 1110xxxx or 11110xxx: the sequence length, the
        // payload bits of the lead and the smallest code point of that length.
        std::size_t length = 0;
        unsigned codePoint = 0;
        unsigned smallest = 0;
        if ((lead & 0xE0) == 0xC0) {
            length = 2;
            codePoint = lead & 0x1F;
            smallest = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3;
            codePoint = lead & 0x0F;
            smallest = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4;
            codePoint = lead & 0x07;
            smallest = 0x10000;
        } else {
            return false;
        }
        if (size - i < length)
            return false;
        for (std::size_t k = 1; k < length; ++k) {
            const unsigned next = bytes[i + k];
            if ((next & 0xC0) != 0x80)
                return false;
            codePoint = (codePoint << 6) | (next & 0x3F);
        }
        if (codePoint < smallest || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

}  // namespace

int columnOf(sqlite3_stmt* row, const char* name)
{
    const int count = sqlite3_column_count(row);
    for (int column = 0; column < count; ++column) {
        const char* columnName = sqlite3_column_name(row, column);
        if (columnName && sqlite3_stricmp(columnName, name) == 0)
            return column;
    }
    return -1;
}

Result<std::string> fieldText(sqlite3_stmt* row, const char* name)
{
    const std::string quoted = std::string("field \"") + name + "\"";
    const int column = columnOf(row, name);
    if (column < 0)
        return Result<std::string>::failure(quoted + " is missing");
    const int type = sqlite3_column_type(row, column);
    if (type == SQLITE_NULL)
        return Result<std::string>::failure(quoted + " is null");
    const auto* bytes = static_cast<const unsigned char*>(
        type == SQLITE_BLOB ? sqlite3_column_blob(row, column) : sqlite3_column_text(row, column));
    const auto size = static_cast<std::size_t>(sqlite3_column_bytes(row, column));
    if (size == 0)
        return Result<std::string>::success(std::string());
    if (!bytes)
        return Result<std::string>::failure(quoted + ": out of memory");
    if (!isUtf8WithoutNul(bytes, size))
        return Result<std::string>::failure(quoted + " does not hold UTF-8 text");
    return Result<std::string>::success(std::string(reinterpret_cast<const char*>(bytes), size));
}

Result<std::optional<std::string>> optionalFieldText(sqlite3_stmt* row, const char* name)
{
    const int column = columnOf(row, name);
    if (column < 0 || sqlite3_column_type(row, column) == SQLITE_NULL)
        return Result<std::optional<std::string>>::success(std::nullopt);
    Result<std::string> text = fieldText(row, name);
    if (!text.ok())
        return Result<std::optional<std::string>>::failure(text.error());
    return Result<std::optional<std::string>>::success(std::move(text.value()));
}

}  // namespace lumo::sqlite

#include "RepeatedKeys.h"

#include <algorithm>
#include <vector>

namespace {

constexpr int kUnicodeEscapeDigits = 4;
constexpr quint64 kHashOffset = 14695981039346656037ULL;
constexpr quint64 kHashPrime = 1099511628211ULL;

// Keys are compared by a 64-bit hash of their decoded text: two different keys of one
// object with the same hash are refused as if repeated. Pages' keys are a few short words,
// for which that does not happen; a page that makes it happen only has its own request
// refused.
struct KeyHash
{
    quint64 value = kHashOffset;

    void add(char16_t unit)
    {
        value = (value ^ (unit & 0xFF)) * kHashPrime;
        value = (value ^ (unit >> 8)) * kHashPrime;
    }
};

struct Level
{
    bool isObject;
    bool expectingKey;
    // Where this object's keys begin in the scan's one list of keys.
    size_t firstKey;
};

char16_t unescaped(char16_t escaped)
{
    switch (escaped) {
    case 'b':
        return '\b';
    case 'f':
        return '\f';
    case 'n':
        return '\n';
    case 'r':
        return '\r';
    case 't':
        return '\t';
    default:
        return escaped;
    }
}

// Hashes the string whose opening quote is at position, escapes decoded; leaves position
// past its end.
quint64 readString(const QString &text, int &position)
{
    KeyHash hash;
    ++position;
    while (position < text.size()) {
        const char16_t unit = text.at(position++).unicode();
        if (unit == '"')
            break;
        if (unit != '\\' || position == text.size()) {
            hash.add(unit);
            continue;
        }
        const char16_t escaped = text.at(position++).unicode();
        if (escaped == 'u') {
            hash.add(text.mid(position, kUnicodeEscapeDigits).toUShort(nullptr, 16));
            position += kUnicodeEscapeDigits;
        } else {
            hash.add(unescaped(escaped));
        }
    }
    return hash.value;
}

bool repeatsAKey(std::vector<quint64> &keys, size_t firstKey)
{
    const auto first = keys.begin() + std::ptrdiff_t(firstKey);
    std::sort(first, keys.end());
    return std::adjacent_find(first, keys.end()) != keys.end();
}

class Scanner
{
public:
    explicit Scanner(const QString &json)
        : m_json(json)
    {
    }

    JsonScan run()
    {
        while (m_position < m_json.size()) {
            const char16_t unit = m_json.at(m_position).unicode();
            if (unit == '"') {
                readStringOrKey();
                continue;
            }
            ++m_position;
            if (unit == '{' || unit == '[') {
                if (int(m_levels.size()) == kMaxJsonNesting)
                    return JsonScan::TooDeep;
                m_levels.push_back({ unit == '{', unit == '{', m_keys.size() });
            } else if ((unit == '}' || unit == ']') && !m_levels.empty()) {
                if (closeLevel())
                    return JsonScan::RepeatedKey;
            } else if (unit == ',' && !m_levels.empty()) {
                m_levels.back().expectingKey = m_levels.back().isObject;
            }
        }
        // Objects still open where the text ends are looked at too: the parser reads them as
        // far as they go.
        while (!m_levels.empty()) {
            if (closeLevel())
                return JsonScan::RepeatedKey;
        }
        return JsonScan::Parse;
    }

private:
    void readStringOrKey()
    {
        const quint64 hash = readString(m_json, m_position);
        if (m_levels.empty() || !m_levels.back().expectingKey)
            return;
        m_keys.push_back(hash);
        m_levels.back().expectingKey = false;
    }

    // Whether the object just closed repeated a key; its keys are forgotten either way.
    bool closeLevel()
    {
        const size_t firstKey = m_levels.back().firstKey;
        m_levels.pop_back();
        const bool repeated = repeatsAKey(m_keys, firstKey);
        m_keys.resize(firstKey);
        return repeated;
    }

    const QString &m_json;
    int m_position = 0;
    std::vector<Level> m_levels;
    std::vector<quint64> m_keys;
};

} // namespace

JsonScan scanBeforeParsing(const QString &json)
{
    return Scanner(json).run();
}

#include "JsonReader.h"

#include <cctype>
#include <cstring>

namespace tapestop {

namespace {

// Deeper nesting than any job needs is refused before the stack is at risk.
constexpr int kMaxDepth = 64;

class Parser {
public:
    explicit Parser(const std::string& text) : text_(text) {}

    JsonValue document() {
        JsonValue value = parseValue(0);
        skipSpace();
        if (at_ != text_.size()) fail("unexpected text after the end");
        return value;
    }

private:
    [[noreturn]] void fail(const std::string& what) const {
        std::size_t line = 1, column = 1;
        for (std::size_t i = 0; i < at_ && i < text_.size(); ++i) {
            if (text_[i] == '\n') {
                ++line;
                column = 1;
            } else {
                ++column;
            }
        }
        throw JsonError("bad JSON at line " + std::to_string(line) + ", column " + std::to_string(column) + ": " + what);
    }

    void skipSpace() {
        while (at_ < text_.size() && std::strchr(" \t\r\n", text_[at_]) != nullptr && text_[at_] != '\0') ++at_;
    }

    bool consume(char c) {
        skipSpace();
        if (at_ < text_.size() && text_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }

    void expect(char c) {
        if (!consume(c)) fail(std::string("expected '") + c + "'");
    }

    bool word(const char* literal) {
        const std::size_t length = std::strlen(literal);
        if (text_.compare(at_, length, literal) != 0) return false;
        at_ += length;
        return true;
    }

    JsonValue parseValue(int depth) {
        if (depth > kMaxDepth) fail("nested too deeply");
        skipSpace();
        if (at_ >= text_.size()) fail("unexpected end");
        JsonValue value;
        const char c = text_[at_];
        if (c == '{') return parseObject(depth);
        if (c == '[') return parseArray(depth);
        if (c == '"') {
            value.kind = JsonValue::Kind::kString;
            value.text = parseString();
        } else if (word("true") || word("false")) {
            value.kind = JsonValue::Kind::kBoolean;
            value.boolean = c == 't';
        } else if (word("null")) {
            value.kind = JsonValue::Kind::kNull;
        } else if (c == '-' || std::isdigit(static_cast<unsigned char>(c))) {
            const std::size_t start = at_;
            while (at_ < text_.size() && std::strchr("+-.eE0123456789", text_[at_]) != nullptr && text_[at_] != '\0')
                ++at_;
            value.kind = JsonValue::Kind::kNumber;
            value.text = text_.substr(start, at_ - start);
        } else {
            fail("expected a value");
        }
        return value;
    }

    // The entries between `open` and `close`, apart by commas, each read by
    // `readEntry`: the members of an object, the items of an array.
    template <typename ReadEntry>
    void parseEntries(char open, char close, ReadEntry readEntry) {
        expect(open);
        if (consume(close)) return;
        do readEntry();
        while (consume(','));
        expect(close);
    }

    JsonValue parseObject(int depth) {
        JsonValue value;
        value.kind = JsonValue::Kind::kObject;
        parseEntries('{', '}', [&] {
            skipSpace();
            if (at_ >= text_.size() || text_[at_] != '"') fail("expected a member name in quotes");
            std::string name = parseString();
            expect(':');
            value.members.emplace_back(std::move(name), parseValue(depth + 1));
        });
        return value;
    }

    JsonValue parseArray(int depth) {
        JsonValue value;
        value.kind = JsonValue::Kind::kArray;
        parseEntries('[', ']', [&] { value.items.push_back(parseValue(depth + 1)); });
        return value;
    }

    unsigned hexDigits() {
        if (at_ + 4 > text_.size()) fail("a \\u escape needs four hex digits");
        unsigned code = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = text_[at_++];
            if (!std::isxdigit(static_cast<unsigned char>(c))) fail("a \\u escape needs four hex digits");
            code = code * 16 + static_cast<unsigned>(std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                                                                                                : std::tolower(c) - 'a' + 10);
        }
        return code;
    }

    static void appendUtf8(std::string& out, unsigned code) {
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }

    // A \uDCxx escape of a lone low surrogate stands for the byte xx, as
    // the tool's own JSON writes bytes that are no UTF-8.
    std::string parseString() {
        ++at_;  // the opening quote
        std::string out;
        while (true) {
            if (at_ >= text_.size()) fail("a string is not closed");
            const char c = text_[at_++];
            if (c == '"') return out;
            if (static_cast<unsigned char>(c) < 0x20) fail("a control character inside a string");
            if (c != '\\') {
                out += c;
                continue;
            }
            if (at_ >= text_.size()) fail("a string is not closed");
            const std::size_t escapeAt = at_ - 1;  // faults in an escape point at its backslash
            const char escape = text_[at_++];
            static constexpr const char* kPlain = "\"\\/bfnrt";
            static constexpr const char* kMeaning = "\"\\/\b\f\n\r\t";
            if (const char* found = std::strchr(kPlain, escape); found != nullptr && escape != '\0') {
                out += kMeaning[found - kPlain];
                continue;
            }
            if (escape != 'u') {
                at_ = escapeAt;
                fail(std::string("unknown escape \\") + escape);
            }
            unsigned code = hexDigits();
            if (code >= 0xDC80 && code <= 0xDCFF) {
                out += static_cast<char>(code - 0xDC00);
                continue;
            }
            if (code >= 0xD800 && code <= 0xDBFF && text_.compare(at_, 2, "\\u") == 0) {
                at_ += 2;
                const unsigned low = hexDigits();
                if (low < 0xDC00 || low > 0xDFFF) fail("a surrogate pair is broken");
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
            }
            appendUtf8(out, code);
        }
    }

    const std::string& text_;
    std::size_t at_ = 0;
};

}  // namespace

const JsonValue* JsonValue::member(const std::string& name) const {
    for (const auto& [key, value] : members)
        if (key == name) return &value;
    return nullptr;
}

JsonValue parseJson(const std::string& text) { return Parser(text).document(); }

}  // namespace tapestop

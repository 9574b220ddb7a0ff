#include "SessionScript.h"

#include <cctype>
#include <charconv>
#include <limits>

namespace nelko::e2e {
namespace {

constexpr std::size_t kMaxExpandedText = std::size_t{16} * 1024 * 1024;

bool ParseUnsigned(std::string_view text, std::uint64_t& value) {
    if (text.empty()) return false;
    const auto* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string PlaceholderText(std::string_view name) {
    if (name == "tab") return "\t";
    if (name == "nl") return "\n";
    if (name == "cr") return "\r";
    if (name == "dollar") return "$";
    if (name == "empty") return "";
    if (name.rfind("repeat:", 0) == 0) {
        const std::string_view rest = name.substr(7);
        const auto colon = rest.find(':');
        std::uint64_t count = 0;
        if (colon == std::string_view::npos || !ParseUnsigned(rest.substr(0, colon), count))
            throw std::invalid_argument("expected ${repeat:N:TEXT}, got ${" + std::string(name) + "}");
        const std::string_view unit = rest.substr(colon + 1);
        if (unit.empty() && count > 0) throw std::invalid_argument("${repeat:N:TEXT} needs a non-empty TEXT");
        if (!unit.empty() && count > kMaxExpandedText / unit.size())
            throw std::invalid_argument("${repeat} result is larger than 16 MiB");
        std::string out;
        out.reserve(unit.size() * count);
        for (std::uint64_t i = 0; i < count; ++i) out.append(unit);
        return out;
    }
    if (name.rfind("hex:", 0) == 0) {
        const std::string_view digits = name.substr(4);
        if (digits.empty() || digits.size() % 2 != 0)
            throw std::invalid_argument("${hex:...} needs an even, non-zero number of hex digits");
        std::string out;
        for (std::size_t i = 0; i < digits.size(); i += 2) {
            const int high = HexDigit(digits[i]);
            const int low = HexDigit(digits[i + 1]);
            if (high < 0 || low < 0) throw std::invalid_argument("bad hex digit in ${" + std::string(name) + "}");
            out.push_back(static_cast<char>((high << 4) | low));
        }
        return out;
    }
    throw std::invalid_argument("unknown placeholder ${" + std::string(name) + "}");
}

std::vector<std::string_view> SplitTabs(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    while (true) {
        const auto tab = line.find('\t', start);
        if (tab == std::string_view::npos) {
            fields.push_back(line.substr(start));
            return fields;
        }
        fields.push_back(line.substr(start, tab - start));
        start = tab + 1;
    }
}

bool IsBlank(std::string_view line) {
    for (char c : line) {
        if (!std::isspace(static_cast<unsigned char>(c))) return false;
    }
    return true;
}

std::chrono::milliseconds ParseMillis(int line, std::string_view keyword, std::string_view field) {
    std::uint64_t ms = 0;
    if (!ParseUnsigned(field, ms) || ms > 3'600'000)
        throw ScriptError(
            line, std::string(keyword) + " needs a duration in ms (0..3600000), got '" + std::string(field) + "'");
    return std::chrono::milliseconds(ms);
}

void ExpectFields(int line, std::string_view keyword, const std::vector<std::string_view>& fields, std::size_t min,
                  std::size_t max, const char* usage) {
    if (fields.size() < min || fields.size() > max)
        throw ScriptError(line, std::string(keyword) + ": expected " + usage);
}

TextTemplate ParseRequest(int line, std::string_view field) {
    TextTemplate request;
    try {
        request = TextTemplate::Parse(field);
    } catch (const std::invalid_argument& e) {
        throw ScriptError(line, std::string("request: ") + e.what());
    }
    if (request.Expand(0).empty())
        throw ScriptError(line, "request is empty (the channel cannot carry an empty message)");
    return request;
}

Expectation ParseExpect(int line, std::string_view field) {
    if (field.empty()) throw ScriptError(line, "expectation is empty (write 'any' to accept any response)");
    try {
        return Expectation::Parse(field);
    } catch (const std::invalid_argument& e) {
        throw ScriptError(line, std::string("expectation: ") + e.what());
    }
}

}  // namespace

TextTemplate TextTemplate::Parse(std::string_view source) {
    TextTemplate result;
    result.source_ = std::string(source);
    std::string literal;
    std::size_t pos = 0;
    while (pos < source.size()) {
        if (source[pos] == '$' && pos + 1 < source.size() && source[pos + 1] == '{') {
            const auto close = source.find('}', pos + 2);
            if (close == std::string_view::npos)
                throw std::invalid_argument("unterminated placeholder at '" + std::string(source.substr(pos)) + "'");
            const std::string_view name = source.substr(pos + 2, close - pos - 2);
            if (name == "i") {
                if (!literal.empty()) result.pieces_.push_back({false, std::move(literal)});
                literal.clear();
                result.pieces_.push_back({true, {}});
                result.usesIndex_ = true;
            } else {
                literal += PlaceholderText(name);
                if (literal.size() > kMaxExpandedText) throw std::invalid_argument("text is larger than 16 MiB");
            }
            pos = close + 1;
        } else {
            literal.push_back(source[pos]);
            ++pos;
        }
    }
    if (!literal.empty()) result.pieces_.push_back({false, std::move(literal)});
    return result;
}

std::string TextTemplate::Expand(std::uint64_t index) const {
    std::string out;
    for (const Piece& piece : pieces_) out += piece.isIndex ? std::to_string(index) : piece.text;
    return out;
}

Expectation Expectation::Any() { return Expectation{}; }

Expectation Expectation::Parse(std::string_view field) {
    Expectation e;
    std::string_view body = field;
    if (field == "any") {
        e.kind_ = Kind::Any;
        return e;
    }
    if (field.rfind("exact:", 0) == 0) {
        e.kind_ = Kind::Exact;
        body = field.substr(6);
    } else if (field.rfind("prefix:", 0) == 0) {
        e.kind_ = Kind::Prefix;
        body = field.substr(7);
    } else if (field.rfind("regex:", 0) == 0) {
        e.kind_ = Kind::Regex;
        body = field.substr(6);
    } else {
        e.kind_ = Kind::Exact;
    }
    e.text_ = TextTemplate::Parse(body);
    if (e.kind_ == Kind::Regex) {
        try {
            auto compiled = std::make_shared<std::regex>(e.text_.Expand(0), std::regex::ECMAScript);
            if (!e.text_.UsesIndex()) e.fixedRegex_ = std::move(compiled);
        } catch (const std::regex_error& err) {
            throw std::invalid_argument("bad regex '" + std::string(body) + "': " + err.what());
        }
    }
    return e;
}

const std::regex& Expectation::RegexFor(std::uint64_t index, std::regex& scratch) const {
    if (fixedRegex_) return *fixedRegex_;
    scratch = std::regex(text_.Expand(index), std::regex::ECMAScript);
    return scratch;
}

bool Expectation::Matches(std::string_view response, std::uint64_t index) const {
    switch (kind_) {
        case Kind::Any: return true;
        case Kind::Exact: return response == text_.Expand(index);
        case Kind::Prefix: {
            const std::string prefix = text_.Expand(index);
            return response.substr(0, prefix.size()) == prefix;
        }
        case Kind::Regex: {
            std::regex scratch;
            return std::regex_match(response.begin(), response.end(), RegexFor(index, scratch));
        }
    }
    return false;
}

std::string Expectation::Describe(std::uint64_t index) const {
    switch (kind_) {
        case Kind::Any: return "any response";
        case Kind::Exact: return "exact " + Printable(text_.Expand(index));
        case Kind::Prefix: return "prefix " + Printable(text_.Expand(index));
        case Kind::Regex: return "regex " + Printable(text_.Expand(index));
    }
    return {};
}

std::vector<Step> ParseScript(std::istream& in) {
    std::vector<Step> steps;
    std::string raw;
    int lineNo = 0;
    while (std::getline(in, raw)) {
        ++lineNo;
        std::string_view line = raw;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (IsBlank(line) || line.front() == '#') continue;

        const auto fields = SplitTabs(line);
        const std::string_view keyword = fields[0];
        Step step;
        step.line = lineNo;

        if (keyword == "bulk") {
            ExpectFields(lineNo, keyword, fields, 4, 5, "bulk<TAB>N<TAB>REQUEST<TAB>EXPECT[<TAB>window=W]");
            step.kind = Step::Kind::Bulk;
            if (!ParseUnsigned(fields[1], step.count) || step.count == 0 || step.count > 1'000'000)
                throw ScriptError(lineNo, "bulk: N must be 1..1000000, got '" + std::string(fields[1]) + "'");
            step.request = ParseRequest(lineNo, fields[2]);
            step.expect = ParseExpect(lineNo, fields[3]);
            if (fields.size() == 5) {
                std::uint64_t window = 0;
                if (fields[4].rfind("window=", 0) != 0 || !ParseUnsigned(fields[4].substr(7), window) || window == 0 ||
                    window > std::numeric_limits<std::size_t>::max())
                    throw ScriptError(lineNo, "bulk: fifth field must be window=W with W >= 1");
                step.window = static_cast<std::size_t>(window);
            }
        } else if (keyword == "disconnect" || keyword == "drop") {
            ExpectFields(lineNo, keyword, fields, 1, 1, "no arguments");
            step.kind = keyword == "drop" ? Step::Kind::Drop : Step::Kind::Disconnect;
        } else if (keyword == "pause" || keyword == "silence") {
            ExpectFields(lineNo, keyword, fields, 2, 2, "one duration in ms");
            step.kind = keyword == "pause" ? Step::Kind::Pause : Step::Kind::Silence;
            step.duration = ParseMillis(lineNo, keyword, fields[1]);
        } else {
            if (fields.size() != 2)
                throw ScriptError(lineNo, "expected REQUEST<TAB>EXPECT or a keyword line, got " +
                                              std::to_string(fields.size()) + " field(s)");
            step.kind = Step::Kind::Exchange;
            step.request = ParseRequest(lineNo, fields[0]);
            step.expect = ParseExpect(lineNo, fields[1]);
        }
        steps.push_back(std::move(step));
    }
    return steps;
}

std::string Printable(std::string_view text, std::size_t max) {
    static const char* const kHex = "0123456789abcdef";
    std::string out = "\"";
    std::size_t shown = 0;
    for (char c : text) {
        if (shown == max) {
            out += "...";
            break;
        }
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (u < 0x20 || u >= 0x7f) {
            out += "\\x";
            out.push_back(kHex[u >> 4]);
            out.push_back(kHex[u & 0xf]);
        } else {
            out.push_back(c);
        }
        ++shown;
    }
    out += "\"";
    if (text.size() > max) out += " (" + std::to_string(text.size()) + " bytes)";
    return out;
}

}  // namespace nelko::e2e

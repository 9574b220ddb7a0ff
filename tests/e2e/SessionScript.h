// Session scripts for the end-to-end test server: what to send, what must come back.
//
// One step per line, fields separated by a single TAB. Blank lines and lines starting with
// '#' are ignored.
//
//   REQUEST <TAB> EXPECT                         one exchange
//   bulk <TAB> N <TAB> REQUEST <TAB> EXPECT [<TAB> window=W]
//                                                N requests back to back (at most W unanswered,
//                                                default: all); every response must arrive, in
//                                                order, once
//   disconnect                                   end the connection politely (the client exits);
//                                                wait for the next client connection
//   drop                                         cut the connection (a client with
//                                                auto-reconnect comes back); wait for it
//   pause <TAB> MS                               keep the connection serviced for MS ms
//   silence <TAB> MS                             fail if any message arrives within MS ms
//
// EXPECT is one of:
//   TEXT            exactly TEXT            exact:TEXT      exactly TEXT (when TEXT looks like
//                                                           one of the other forms)
//   prefix:TEXT     starts with TEXT        regex:PATTERN   ECMAScript regex, whole response
//   any             any response
//
// REQUEST and EXPECT may contain placeholders:
//   ${i}               the exchange's index: 0, 1, ... within a bulk step (0 otherwise)
//   ${repeat:N:TEXT}   TEXT repeated N times (TEXT ends at the closing brace)
//   ${hex:4142}        raw bytes given in hex
//   ${tab} ${nl} ${cr} ${dollar} ${empty}
#pragma once

#include <chrono>
#include <cstdint>
#include <istream>
#include <memory>
#include <regex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace nelko::e2e {

class ScriptError : public std::runtime_error {
public:
    ScriptError(int line, const std::string& message)
        : std::runtime_error("line " + std::to_string(line) + ": " + message), line_(line) {}
    int Line() const { return line_; }

private:
    int line_;
};

// A text with ${...} placeholders, expanded for one exchange index.
class TextTemplate {
public:
    TextTemplate() = default;
    // Throws std::invalid_argument for an unknown or malformed placeholder.
    static TextTemplate Parse(std::string_view source);

    std::string Expand(std::uint64_t index) const;
    bool UsesIndex() const { return usesIndex_; }
    const std::string& Source() const { return source_; }

private:
    struct Piece {
        bool isIndex = false;
        std::string text;
    };
    std::string source_;
    std::vector<Piece> pieces_;
    bool usesIndex_ = false;
};

class Expectation {
public:
    enum class Kind { Exact, Prefix, Regex, Any };

    Expectation() = default;
    // Throws std::invalid_argument for a bad placeholder or regex.
    static Expectation Parse(std::string_view field);
    static Expectation Any();

    Kind GetKind() const { return kind_; }
    bool Matches(std::string_view response, std::uint64_t index) const;
    // For messages: e.g. exact "OK|Hello".
    std::string Describe(std::uint64_t index) const;
    // The text an exact or prefix expectation wants for this index.
    std::string Text(std::uint64_t index) const { return text_.Expand(index); }

private:
    const std::regex& RegexFor(std::uint64_t index, std::regex& scratch) const;

    Kind kind_ = Kind::Any;
    TextTemplate text_;
    std::shared_ptr<std::regex> fixedRegex_;  // compiled once when the pattern has no ${i}
};

struct Step {
    enum class Kind { Exchange, Bulk, Disconnect, Drop, Pause, Silence };

    Kind kind = Kind::Exchange;
    int line = 0;
    TextTemplate request;
    Expectation expect;
    std::uint64_t count = 1;
    std::size_t window = 0;  // bulk: most requests left unanswered at once; 0 = all
    std::chrono::milliseconds duration{0};
};

// Throws ScriptError naming the line of the first problem.
std::vector<Step> ParseScript(std::istream& in);

// A short printable rendering of a message for reports: quotes, escapes, cut after max
// characters with the full length appended.
std::string Printable(std::string_view text, std::size_t max = 72);

}  // namespace nelko::e2e

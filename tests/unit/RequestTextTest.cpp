#include <gtest/gtest.h>

#include "LogFixture.h"
#include "command/RequestText.h"
#include "command/Result.h"

namespace nelko::test {
namespace {

using namespace std::string_literals;

struct SplitCase {
    std::string request;
    std::string name;
    Parameters parameters;
};

void PrintTo(const SplitCase& c, std::ostream* os) { *os << Printable(c.request); }

class SplitTest : public LogFixture, public ::testing::WithParamInterface<SplitCase> {};

TEST_P(SplitTest, NameAndParameters) {
    const SplitCase& c = GetParam();
    EXPECT_EQ(GetCommandName(c.request), c.name);
    EXPECT_EQ(GetParameters(c.request), c.parameters);
    EXPECT_EQ(Messages(), std::vector<std::string>{"Parameters of " + c.request});
}

INSTANTIATE_TEST_SUITE_P(
    Requests, SplitTest,
    ::testing::Values(SplitCase{"Measure", "Measure", {}}, SplitCase{"Measure|", "Measure", {}},
                      SplitCase{"Init|Driver", "Init", {}}, SplitCase{"Init|Driver|", "Init", {"Driver"}},
                      SplitCase{"SetOption|Mode|2|", "SetOption", {"Mode", "2"}},
                      SplitCase{"SetOption|Mode|2", "SetOption", {"Mode"}},
                      SplitCase{"SetOption||2|", "SetOption", {"", "2"}}, SplitCase{"X|||", "X", {"", ""}},
                      SplitCase{"|Measure|", "", {"Measure"}}, SplitCase{"|", "", {}}, SplitCase{"", "", {}},
                      SplitCase{"Measure |a b|", "Measure ", {"a b"}}, SplitCase{"Measure|\0\0"s, "Measure", {}},
                      SplitCase{"Measure\0\0"s, "Measure\0\0"s, {}}, SplitCase{"A|x\0y|\t |"s, "A", {"x\0y"s, "\t "}}));

struct RenderCase {
    Result result;
    std::string response;
    // Tells apart cases with the same response: test runners need unique test names.
    std::string made = "";
};

void PrintTo(const RenderCase& c, std::ostream* os) {
    *os << Printable(c.response);
    if (!c.made.empty()) *os << " (" << c.made << ")";
}

class RenderTest : public ::testing::TestWithParam<RenderCase> {};

TEST_P(RenderTest, ResponseText) { EXPECT_EQ(GetParam().result.ToString(), GetParam().response); }

INSTANTIATE_TEST_SUITE_P(
    Results, RenderTest,
    ::testing::Values(RenderCase{Result::Success(), "OK"}, RenderCase{Result::Success("Hello"), "OK|Hello"},
                      RenderCase{Result::FromBool(true), "OK|true"}, RenderCase{Result::FromBool(false), "OK|false"},
                      RenderCase{Result::Failure("Missing parameter"), "ERROR|Missing parameter"},
                      RenderCase{Result::Failure(""), "ERROR"}, RenderCase{Result(false, "x"), "ERROR|x"},
                      RenderCase{Result(true, ""), "OK", "constructor"},
                      RenderCase{Result::Success("1|2|3"), "OK|1|2|3"},
                      RenderCase{Result::Success("a\0b"s), "OK|a\0b"s}));

}  // namespace
}  // namespace nelko::test

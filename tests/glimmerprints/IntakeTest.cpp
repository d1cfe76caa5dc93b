// Bodies the service refuses: each gets a 4xx answer with a reason and stores nothing.

#include "OrderIntake.h"

#include <gtest/gtest.h>

#include <functional>

#include "Harness.h"

namespace {

using namespace gptest;

TEST(FieldIndex, OnlyTheToolsNumbering) {
    struct Case {
        const char* name;
        std::optional<int> index;
    } const kCases[] = {
        {"Format_001", 1},         {"Format_012", 12}, {"Format_123", 123},  {"Format_1000", 1000},
        {"Format_20001", 20001},   {"Format_1", {}},   {"Format_01", {}},    {"Format_0001", {}},
        {"Format_000", {}},        {"Format_", {}},    {"Format_-01", {}},   {"Format_00a", {}},
        {"Format_ 001", {}},       {"format_001", {}}, {"Format_01000", {}}, {"Qty_001", {}},
        {"Format_1234567890", {}},
    };
    for (const Case& c : kCases) {
        EXPECT_EQ(glimmer::FieldIndex(c.name, "Format_"), c.index) << c.name;
    }
    EXPECT_EQ(glimmer::FieldIndex("Qty_007", "Qty_"), 7);
}

TEST(ParseQuantity, PositiveWholeNumbersOnly) {
    struct Case {
        const char* text;
        std::optional<int> value;
    } const kCases[] = {
        {"1", 1},    {"25", 25},         {"2147483647", 2147483647},
        {"007", 7},  {"0", {}},          {"-1", {}},
        {"+1", {}},  {"", {}},           {"two", {}},
        {"2x", {}},  {" 2", {}},         {"2 ", {}},
        {"1.5", {}}, {"2147483648", {}}, {"99999999999", {}},
    };
    for (const Case& c : kCases) EXPECT_EQ(glimmer::ParseQuantity(c.text), c.value) << c.text;
}

using Edit = std::function<void(std::vector<Part>&)>;

Part* Find(std::vector<Part>& parts, const std::string& name) {
    for (Part& part : parts) {
        if (part.name == name) return &part;
    }
    return nullptr;
}

Edit Remove(const std::string& name) {
    return [name](std::vector<Part>& parts) {
        std::erase_if(parts, [&](const Part& part) { return part.name == name; });
    };
}

Edit Set(const std::string& name, const std::string& value) {
    return [name, value](std::vector<Part>& parts) { Find(parts, name)->content = value; };
}

Edit Rename(const std::string& from, const std::string& to) {
    return [from, to](std::vector<Part>& parts) { Find(parts, from)->name = to; };
}

Edit Add(const Part& extra) {
    return [extra](std::vector<Part>& parts) { parts.insert(parts.begin() + 2, extra); };
}

struct BadBody {
    const char* what;
    Edit edit;
    int status = 400;
    const char* reason = "";  // expected within the answer
};

class RefusedBodies : public ::testing::Test {
protected:
    TempDir temp;
    fs::path data = temp.path() / "data";
    RunningService service{Config(data)};

    void ExpectRefused(const std::string& what, const std::string& body, int status,
                       const std::string& reason, const PostOptions& options = {}) {
        auto answer = PostOrder(service.port(), body, options);
        ASSERT_TRUE(answer) << what;
        EXPECT_EQ(answer->status, status) << what << ": " << answer->body;
        EXPECT_NE(answer->body.find(reason), std::string::npos) << what << ": " << answer->body;
        EXPECT_TRUE(answer->headers["content-type"].rfind("text/plain", 0) == 0) << what;
        EXPECT_LT(answer->body.size(), 200u) << what;
        EXPECT_TRUE(NothingStored(data)) << what;
    }
};

TEST_F(RefusedBodies, BrokenOrders) {
    const BadBody kCases[] = {
        {"missing email", Remove("email"), 400, "missing field email"},
        {"empty email", Set("email", ""), 400, "missing field email"},
        {"email with a line break", Set("email", "a@b.c\r\nX: y"), 400, "control"},
        {"missing images", Remove("images"), 400, "missing field images"},
        {"images not a number", Set("images", "two"), 400, "not a count"},
        {"images negative", Set("images", "-2"), 400, "not a count"},
        {"images too high", Set("images", "3"), 400, "images says 3"},
        {"images too low", Set("images", "1"), 400, "images says 1"},
        {"a picture missing", [](std::vector<Part>& parts) { parts.pop_back(); }, 400,
         "holds 1 pictures"},
        {"missing Qty_002", Remove("Qty_002"), 400, "Qty_NNN"},
        {"missing Format_001", Remove("Format_001"), 400, "Format_NNN"},
        {"Format numbered without zeros", Rename("Format_001", "Format_1"), 400, "unknown field"},
        {"Qty numbered with four digits", Rename("Qty_002", "Qty_0002"), 400, "unknown field"},
        {"Qty numbered beyond the count", Rename("Qty_002", "Qty_003"), 400, "Qty_NNN"},
        {"Format appears twice", Rename("Format_002", "Format_001"), 400, "twice"},
        {"email appears twice", Add({"email", std::nullopt, "x@y.z"}), 400, "twice"},
        {"quantity 0", Set("Qty_002", "0"), 400, "Qty_002"},
        {"quantity negative", Set("Qty_001", "-1"), 400, "Qty_001"},
        {"quantity text", Set("Qty_001", "two"), 400, "Qty_001"},
        {"quantity with trailing text", Set("Qty_001", "2x"), 400, "Qty_001"},
        {"quantity empty", Set("Qty_001", ""), 400, "Qty_001"},
        {"quantity too large", Set("Qty_001", "99999999999"), 400, "Qty_001"},
        {"unknown field", Add({"comment", std::nullopt, "hello"}), 400, "unknown field"},
        {"unnamed part", Add({"", std::nullopt, "hello"}), 400, "unknown field"},
        {"field too long", Set("Format_001", std::string(600, 'x')), 400, "longer than"},
        {"no pictures at all", [](std::vector<Part>& parts) { parts = OrderParts("a@b.c", {}); },
         400, "at least one picture"},
    };
    for (const BadBody& c : kCases) {
        std::vector<Part> parts = OrderParts("ann@example.com", TwoPictures());
        c.edit(parts);
        ExpectRefused(c.what, BuildBody(parts), c.status, c.reason);
    }
}

TEST_F(RefusedBodies, MalformedBodies) {
    const std::string good = BuildBody(OrderParts("ann@example.com", TwoPictures()));
    struct Case {
        const char* what;
        std::string body;
    } const kCases[] = {
        {"no close delimiter", BuildBody(OrderParts("ann@example.com", TwoPictures()), false)},
        {"cut in the last picture", good.substr(0, good.size() - 200)},
        {"cut in a header", good.substr(0, good.find("name=\"Qty_002\"") + 5)},
        {"garbage", "this is not a multipart body at all\r\n\r\n"},
        {"empty", ""},
        {"other delimiter",
         [&] {
             std::string body = good;
             for (std::size_t at; (at = body.find("7d4128363704e6")) != std::string::npos;) {
                 body.replace(at, 14, "0123456789abcd");
             }
             return body;
         }()},
        {"part without a header line",
         kDelimiter + "\r\nno colon here\r\n\r\nx\r\n" + kDelimiter + "--\r\n"},
    };
    for (const Case& c : kCases) {
        ExpectRefused(c.what, c.body, 400, "");
    }
}

TEST_F(RefusedBodies, WrongRequests) {
    const std::string good = BuildBody(OrderParts("ann@example.com", TwoPictures()));
    PostOptions text;
    text.content_type = "text/plain";
    ExpectRefused("not multipart", good, 400, "multipart/form-data", text);
    PostOptions no_boundary;
    no_boundary.content_type = "multipart/form-data";
    ExpectRefused("no boundary", good, 400, "boundary", no_boundary);
    PostOptions other_boundary;
    other_boundary.content_type = "multipart/form-data; boundary=somethingelse";
    ExpectRefused("another boundary", good, 400, "", other_boundary);
    PostOptions bad_length;
    bad_length.content_length = "12abc";
    ExpectRefused("bad Content-Length", good, 400, "Content-Length", bad_length);
}

// The client stops sending before the announced length: the service answers once the body
// has ended and stores nothing.
TEST_F(RefusedBodies, TruncatedBody) {
    const std::string good = BuildBody(OrderParts("ann@example.com", TwoPictures()));
    for (std::size_t keep : {std::size_t{0}, std::size_t{10}, good.size() / 2, good.size() - 1}) {
        PostOptions options;
        options.send_only = keep;
        ExpectRefused("truncated at " + std::to_string(keep), good, 400, "incomplete", options);
    }
}

// A refused order leaves the service as it was: the next good order is stored normally.
TEST_F(RefusedBodies, GoodOrderAfterRefusals) {
    std::vector<Part> parts = OrderParts("ann@example.com", TwoPictures());
    Set("Qty_001", "0")(parts);
    ExpectRefused("quantity 0", BuildBody(parts), 400, "Qty_001");
    auto answer =
        PostOrder(service.port(), BuildBody(OrderParts("ann@example.com", TwoPictures())));
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 200);
    EXPECT_EQ(CountRows(data, "orders"), 1);
    EXPECT_EQ(CountRows(data, "pictures"), 2);
}

}  // namespace

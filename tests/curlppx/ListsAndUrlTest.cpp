#include "EngineTestSupport.h"
#include "curlppx/CurlHeader.h"
#include "curlppx/CurlStrList.h"
#include "curlppx/CurlUrl.h"

using namespace curlppx;
using namespace enginetest;

namespace {

std::vector<std::string> Lines(CurlStrList& list) {
    std::vector<std::string> out;
    for (size_t i = 0; i < list.GetSize(); ++i) {
        out.push_back(list[i]);
    }
    return out;
}

} // namespace

TEST(CurlStrList, CopyIsIndependentAndIndexPastTheEndIsEmpty) {
    CurlStrList source;
    ASSERT_TRUE(source.Append("a"));
    CurlStrList copy(source);
    ASSERT_TRUE(copy.Append("b"));
    EXPECT_EQ(std::vector<std::string>{"a"}, Lines(source));
    EXPECT_EQ((std::vector<std::string>{"a", "b"}), Lines(copy));
    EXPECT_NE(source.GetRawList()->GetListPtr(), copy.GetRawList()->GetListPtr());
    EXPECT_EQ("", copy[2]);

    copy.Clear();
    EXPECT_FALSE(copy.GetRawList());
    EXPECT_TRUE(copy.isEmpty());
    EXPECT_TRUE(copy.Append("c"));
    EXPECT_FALSE(copy.isEmpty());
}

TEST(CurlStrList, SharedConstructorSharesTheRawList) {
    auto raw = std::make_shared<CurlStrListRaw>();
    ASSERT_TRUE(raw->Append("x"));
    CurlStrList shared(raw);
    EXPECT_EQ(raw.get(), shared.GetRawList().get());
    EXPECT_EQ("x", shared[0]);
}

TEST(CurlHeader, LinesKeepInsertionOrderUntilAValueChanges) {
    CurlHeader header;
    ASSERT_TRUE(header.SetField("B", "1"));
    ASSERT_TRUE(header.SetField("A", "2"));
    EXPECT_EQ((std::vector<std::string>{"B: 1", "A: 2"}), Lines(header));

    ASSERT_TRUE(header.SetField("A", "2")); // same value: nothing changes
    EXPECT_EQ(2u, header.GetSize());

    ASSERT_TRUE(header.SetField("B", "3"));
    EXPECT_EQ((std::vector<std::string>{"A: 2", "B: 3"}), Lines(header));
    EXPECT_EQ("3", header["B"]);
    EXPECT_EQ("", header["missing"]);
}

TEST(CurlHeader, FromMapReplacesButAnEmptyMapKeepsWhatIsThere) {
    CurlHeader header;
    header.SetField("Keep", "1");
    EXPECT_EQ(0u, header.FromMap({}));
    EXPECT_EQ("1", header["Keep"]);
    EXPECT_EQ(2u, header.FromMap({{"y", "2"}, {"x", "1"}}));
    EXPECT_EQ((std::vector<std::string>{"x: 1", "y: 2"}), Lines(header));
    EXPECT_EQ("", header["Keep"]);
    EXPECT_EQ(1u, header.SetFields({{"z", "3"}}));
    EXPECT_EQ(3u, header.GetSize());
}

TEST(CurlHeader, CopiesAndMovesKeepLinesAndMapInStep) {
    CurlHeader header(std::map<std::string, std::string>{{"a", "1"}});
    CurlHeader copy = header;
    copy.SetField("b", "2");
    EXPECT_EQ(1u, header.GetSize());
    CurlHeader moved(std::move(copy));
    EXPECT_EQ(2u, moved.GetSize());
    EXPECT_EQ("2", moved["b"]);
    CurlHeader assigned;
    assigned = std::move(moved);
    EXPECT_EQ((std::vector<std::string>{"a: 1", "b: 2"}), Lines(assigned));
    EXPECT_EQ(2u, assigned.ToMap().size());
}

TEST(CurlUrl, GuessesTheSchemeAndLeavesTheDefaultPortOut) {
    CurlUrl url("https://example.test:443/a/b?x=1#f");
    EXPECT_EQ("https://example.test/a/b?x=1#f", url.GetStr());
    EXPECT_EQ(443, url.GetPort());
    EXPECT_EQ("example.test", url.GetHost());
    EXPECT_EQ("/a/b", url.GetPath());
    EXPECT_EQ("f", url.GetFragment());

    CurlUrl guessed("example.test/p");
    EXPECT_EQ("http", guessed.GetScheme());
    EXPECT_EQ(80, guessed.GetPort());

    EXPECT_EQ(CURLUE_OK, guessed.SetPortW(8080));
    EXPECT_EQ("http://example.test:8080/p", guessed.GetStr());
    EXPECT_EQ(CURLUE_OK, guessed.SetQuery("q=a b"));
    EXPECT_EQ("q=a b", guessed.GetQuery());
    EXPECT_NE(std::string::npos, guessed.GetStr().find("a+b"));
}

TEST(CurlUrl, AbsentPartsAndMissingHandlesFailWithALog) {
    EngineLog log(CURL_LOG_ERROR);
    CurlUrl empty;
    EXPECT_EQ(0, empty.GetPort());
    CurlUrl noQuery("http://h/");
    EXPECT_EQ("", noQuery.GetQuery());
    EXPECT_EQ(1u, log.Count("CURLUE_NO_QUERY"));

    CurlUrl moved(std::move(noQuery));
    CurlUrl target("http://t/");
    target = noQuery; // noQuery has no handle after the move
    EXPECT_EQ(1u, log.Count("CURLUE_OUT_OF_MEMORY"));
    EXPECT_EQ(CURLUE_BAD_HANDLE, target.SetHost("x"));
    EXPECT_EQ(1u, log.Count("CURLUE_BAD_HANDLE"));
    EXPECT_EQ("http://h/", moved.GetStr());
}

TEST(CurlUrl, BuildQueryWritesKeysInOrderAndEncodesValuesOnRequest) {
    const std::map<std::string, std::string> params{{"b", "2"}, {"a", "x y"}};
    EXPECT_EQ("?a=x%20y&b=2", CurlUrl::BuildQuery(params, true));
    EXPECT_EQ("?a=x y&b=2", CurlUrl::BuildQuery(params, false));
    EXPECT_EQ("", CurlUrl::BuildQuery({}, true));
}

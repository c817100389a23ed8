// The picture preview: recognising a (masked) picture, the size it is shown
// at, the size its header states, and the preview window itself: GDI+ in a
// native window on Windows (also under Wine, headless), a page of its own in
// a second web view on Linux.
#include "uiclean/imagepreview.h"

#include "fendrel/utils.h"
#include "host/webview.h"
#include "realwebview.h"
#include "testutil.h"
#include "uithread.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#if !defined(_WIN32)
#  include <arpa/inet.h>
#  include <netinet/in.h>
#  include <sys/socket.h>
#  include <unistd.h>
#endif

namespace fs = std::filesystem;
using imagepreview::PictureType;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes B(std::initializer_list<int> values) {
    Bytes bytes;
    for (int v : values)
        bytes.push_back(static_cast<std::uint8_t>(v));
    return bytes;
}

Bytes Masked(Bytes bytes, std::uint8_t mask) {
    for (auto& b : bytes)
        b ^= mask;
    return bytes;
}

std::uint32_t Crc32(const std::string& data) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char c : data) {
        crc ^= c;
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

std::string Be32(std::uint32_t v) {
    return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
}

std::string Chunk(const std::string& type, const std::string& data) {
    return Be32(static_cast<std::uint32_t>(data.size())) + type + data + Be32(Crc32(type + data));
}

// A real, decodable black-and-white PNG of any size: 1-bit grey rows in
// stored (uncompressed) deflate blocks.
Bytes Png(int width, int height) {
    std::string raw;
    const std::size_t row = 1 + (static_cast<std::size_t>(width) + 7) / 8;
    for (int y = 0; y < height; ++y) {
        raw += '\0';
        raw += std::string(row - 1, static_cast<char>(y % 2 ? 0xAA : 0x55));
    }
    std::string deflate = "\x78\x01";
    for (std::size_t at = 0; at < raw.size() || at == 0; at += 65535) {
        const std::size_t n = std::min<std::size_t>(65535, raw.size() - at);
        const bool last = at + n >= raw.size();
        deflate += static_cast<char>(last ? 1 : 0);
        deflate += static_cast<char>(n & 0xFF);
        deflate += static_cast<char>(n >> 8);
        deflate += static_cast<char>(~n & 0xFF);
        deflate += static_cast<char>((~n >> 8) & 0xFF);
        deflate += raw.substr(at, n);
        if (last)
            break;
    }
    std::uint32_t a = 1, b = 0;
    for (unsigned char c : raw) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    deflate += Be32((b << 16) | a);
    const std::string header = Be32(static_cast<std::uint32_t>(width)) + Be32(static_cast<std::uint32_t>(height)) +
                               std::string("\x01\x00\x00\x00\x00", 5);
    const std::string png =
        "\x89PNG\r\n\x1a\n" + Chunk("IHDR", header) + Chunk("IDAT", deflate) + Chunk("IEND", "");
    return Bytes(png.begin(), png.end());
}

void WriteFile(const fs::path& path, const Bytes& bytes) {
    testutil::WriteBytes(path, std::string(bytes.begin(), bytes.end()));
}

}  // namespace

TEST(PreviewPicture, RecognisesMaskedAndUnmaskedPictures) {
    const Bytes jpeg = B({0xFF, 0xD8, 0xFF, 0xE0});
    const Bytes gif = B({'G', 'I', 'F', '8', '9', 'a'});
    const Bytes png = B({0x89, 'P', 'N', 'G'});
    const struct {
        const char* name;
        Bytes bytes;
        PictureType type;
        std::uint8_t mask;
    } cases[] = {
        {"jpeg", jpeg, PictureType::Jpeg, 0},
        {"gif", gif, PictureType::Gif, 0},
        {"png", png, PictureType::Png, 0},
        {"masked jpeg", Masked(jpeg, 0x5A), PictureType::Jpeg, 0x5A},
        {"masked gif", Masked(gif, 0xFF), PictureType::Gif, 0xFF},
        {"masked png", Masked(png, 0x01), PictureType::Png, 0x01},
        // Only the pair's XOR counts: any first byte with the right partner.
        {"shifted jpeg pair", B({0x00, 0x27}), PictureType::Jpeg, 0xFF},
        {"text", B({'h', 'e', 'l', 'l', 'o'}), PictureType::None, 0},
        {"bmp", B({'B', 'M', 0, 0}), PictureType::None, 0},
        {"one byte", B({0xFF}), PictureType::None, 0},
        {"empty", {}, PictureType::None, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const imagepreview::Recognition found = imagepreview::Recognize(c.bytes);
        EXPECT_EQ(found.type, c.type);
        EXPECT_EQ(found.mask, c.mask);
    }
}

TEST(PreviewPicture, ScalesDownToFiveHundredKeepingTheAspect) {
    const struct {
        int width, height, shownWidth, shownHeight;
    } cases[] = {
        {1000, 400, 500, 200}, {400, 1000, 200, 500}, {500, 500, 500, 500}, {300, 200, 300, 200},
        {501, 10, 500, 9},     {700, 300, 500, 214},  {3000, 3000, 500, 500}, {1, 100000, 0, 500},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        const imagepreview::Size shown = imagepreview::DisplaySize(c.width, c.height);
        EXPECT_EQ(shown.width, c.shownWidth);
        EXPECT_EQ(shown.height, c.shownHeight);
    }
}

TEST(PreviewPicture, ReadsTheSizeFromTheHeader) {
    // APP0, a DHT (C4, no frame) and then the baseline frame of 640 x 480.
    const Bytes jpeg = B({0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x04, 0x4A, 0x46, 0xFF, 0xC4, 0x00, 0x03, 0x00, 0xFF,
                          0xFF, 0xC0, 0x00, 0x0B, 0x08, 0x01, 0xE0, 0x02, 0x80, 0x01, 0x01, 0x11, 0x00});
    const Bytes gif = B({'G', 'I', 'F', '8', '9', 'a', 0x2C, 0x01, 0x78, 0x00});
    const struct {
        const char* name;
        Bytes bytes;
        PictureType type;
        bool ok;
        int width, height;
    } cases[] = {
        {"png", Png(1000, 400), PictureType::Png, true, 1000, 400},
        {"gif", gif, PictureType::Gif, true, 300, 120},
        {"jpeg", jpeg, PictureType::Jpeg, true, 640, 480},
        {"jpeg cut before its frame", Bytes(jpeg.begin(), jpeg.begin() + 14), PictureType::Jpeg, false, 0, 0},
        {"jpeg with data before a frame", B({0xFF, 0xD8, 0xFF, 0xDA, 0x00, 0x02, 0xFF, 0xC0}), PictureType::Jpeg,
         false, 0, 0},
        {"png without IHDR", B({0x89, 'P', 'N', 'G', 13, 10, 26, 10, 0, 0, 0, 13, 'I', 'D', 'A', 'T', 0, 0, 1, 0,
                                0, 0, 1, 0}),
         PictureType::Png, false, 0, 0},
        {"gif of zero width", B({'G', 'I', 'F', '8', '9', 'a', 0, 0, 5, 0}), PictureType::Gif, false, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        imagepreview::Size size;
        EXPECT_EQ(imagepreview::PictureSize(c.bytes, c.type, size), c.ok);
        if (c.ok) {
            EXPECT_EQ(size.width, c.width);
            EXPECT_EQ(size.height, c.height);
        }
    }
}

TEST(PreviewPicture, FilesThatAreNoPicturesShowNothing) {
    testutil::TempDir dir;
    testutil::WriteBytes(dir.path() / "one.jpg", "\xFF");
    testutil::WriteBytes(dir.path() / "empty.png", "");
    testutil::WriteBytes(dir.path() / "notes.txt", "just some text\n");
    for (const char* name : {"one.jpg", "empty.png", "notes.txt", "missing.png"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(imagepreview::PreviewFile(nullptr, (dir.path() / name).string()));
    }
    EXPECT_EQ(imagepreview::PreviewHandle(), nullptr);
}

#if defined(_WIN32)

namespace {

std::vector<std::wstring> g_reported;
void Record(HWND, const std::wstring& text) {
    g_reported.push_back(text);
}

struct ClientSize {
    bool visible;
    int width, height;
};

ClientSize Client(HWND window) {
    RECT rect{};
    GetClientRect(window, &rect);
    return {IsWindowVisible(window) != 0, rect.right - rect.left, rect.bottom - rect.top};
}

}  // namespace

TEST(PreviewWindow, ShowsScaledReusesTheWindowAndOnlyHidesOnClose) {
    testutil::TempDir dir;
    WriteFile(dir.path() / "wide.png", Png(1000, 400));
    WriteFile(dir.path() / "masked.dat", Masked(Png(300, 120), 0x5A));
    testutil::WriteBytes(dir.path() / "broken.png", "\x89PNG\r\n\x1a\n but nothing after");
    g_reported.clear();
    const imagepreview::ErrorReporter previous = imagepreview::SetErrorReporter(Record);
    testutil::UiThread ui;

    HWND first = nullptr;
    ClientSize size{};
    ui.Run([&] {
        ASSERT_TRUE(imagepreview::PreviewFile(nullptr, (dir.path() / "wide.png").string()));
        first = static_cast<HWND>(imagepreview::PreviewHandle());
        size = Client(first);
    });
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(size.visible);
    EXPECT_EQ(size.width, 500);
    EXPECT_EQ(size.height, 200);
    wchar_t className[64] = {};
    GetClassNameW(first, className, 64);
    EXPECT_STREQ(className, L"ImagePreviewWindowClass");

    // The close box hides; the next picture shows the same window at its size.
    ui.Run([&] {
        SendMessageW(first, WM_CLOSE, 0, 0);
        size = Client(first);
    });
    EXPECT_FALSE(size.visible);
    EXPECT_TRUE(IsWindow(first));
    ui.Run([&] {
        EXPECT_TRUE(imagepreview::PreviewFile(nullptr, (dir.path() / "masked.dat").string()));
        size = Client(first);
    });
    EXPECT_EQ(imagepreview::PreviewHandle(), first);
    EXPECT_TRUE(size.visible);
    EXPECT_EQ(size.width, 300);
    EXPECT_EQ(size.height, 120);

    // A picture GDI+ cannot read is reported and leaves the preview as it was.
    ui.Run([&] {
        EXPECT_FALSE(imagepreview::PreviewFile(nullptr, (dir.path() / "broken.png").string()));
        size = Client(first);
    });
    EXPECT_EQ(g_reported, std::vector<std::wstring>{L"图片加载失败"});
    EXPECT_EQ(size.width, 300);

    ui.Run([] { imagepreview::CloseImagePreview(); });
    EXPECT_FALSE(IsWindow(first));
    EXPECT_EQ(imagepreview::PreviewHandle(), nullptr);
    imagepreview::SetErrorReporter(previous);
}

#else

namespace {

struct HttpAnswer {
    std::string head;
    std::string body;
};

// One GET on the loopback port, as a browser tab of the page would send it.
HttpAnswer Get(int port, const std::string& target, const std::string& cookie = "") {
    HttpAnswer answer;
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        if (fd >= 0)
            close(fd);
        return answer;
    }
    const std::string request = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                                "\r\nConnection: close\r\n" + (cookie.empty() ? "" : "Cookie: " + cookie + "\r\n") +
                                "\r\n";
    (void)!write(fd, request.data(), request.size());
    std::string all;
    char buffer[4096];
    for (ssize_t n; (n = read(fd, buffer, sizeof(buffer))) > 0;)
        all.append(buffer, static_cast<std::size_t>(n));
    close(fd);
    const std::size_t split = all.find("\r\n\r\n");
    answer.head = all.substr(0, split);
    answer.body = split == std::string::npos ? "" : all.substr(split + 4);
    return answer;
}

std::string Between(const std::string& text, const std::string& before, const std::string& after) {
    const std::size_t start = text.find(before);
    if (start == std::string::npos)
        return {};
    const std::size_t from = start + before.size();
    return text.substr(from, text.find(after, from) - from);
}

}  // namespace

// The preview page through the real web-view library; without a display it
// opens no browser and only prints its address, so the test plays the browser.
TEST(PreviewWindow, ShowsThePictureOnAPageOfItsOwnAndReusesTheView) {
    testutil::EnvOverride noBrowser{"CLEAN_NO_BROWSER", "1"};
    const WebViewApi saved = g_wke;
    ASSERT_NE(testutil::RealWebView().wkeCreateWebWindow, nullptr) << "the web-view library beside the test program";
    g_wke = testutil::RealWebView();

    testutil::TempDir dir;
    const Bytes wide = Png(1000, 400);
    WriteFile(dir.path() / "wide.png", wide);
    WriteFile(dir.path() / "masked.dat", Masked(Png(300, 120), 0x5A));
    testutil::UiThread ui;

    void* first = nullptr;
    std::string launch;
    ui.Run([&] {
        EXPECT_TRUE(imagepreview::PreviewFile(nullptr, (dir.path() / "wide.png").string()));
        first = imagepreview::PreviewHandle();
        if (first != nullptr)
            launch = g_wke.wkeGetLaunchAddress(static_cast<wkeWebView>(first));
    });
    ASSERT_NE(first, nullptr);
    const int port = std::atoi(Between(launch, "127.0.0.1:", "/").c_str());
    const HttpAnswer opened = Get(port, launch.substr(launch.find('/', 7)));
    const std::string cookie = Between(opened.head, "Set-Cookie: ", ";");
    const std::string page = Between(opened.head, "Location: ", "\r");
    ASSERT_FALSE(cookie.empty()) << opened.head;
    const HttpAnswer shown = Get(port, page, cookie);
    EXPECT_NE(shown.body.find("width=\"500\" height=\"200\""), std::string::npos) << shown.body;
    const HttpAnswer picture = Get(port, Between(shown.body, "<img alt=\"\" src=\"", "\""), cookie);
    EXPECT_NE(picture.head.find("image/png"), std::string::npos) << picture.head;
    EXPECT_TRUE(picture.body == std::string(wide.begin(), wide.end())) << "the picture as the file holds it";

    // The next picture, unmasked, in the same view.
    ui.Run([&] { EXPECT_TRUE(imagepreview::PreviewFile(nullptr, (dir.path() / "masked.dat").string())); });
    EXPECT_EQ(imagepreview::PreviewHandle(), first);
    const HttpAnswer second = Get(port, page.substr(0, page.find('?')) + "?2", cookie);
    EXPECT_NE(second.body.find("width=\"300\" height=\"120\""), std::string::npos) << second.body;
    const Bytes small = Png(300, 120);
    EXPECT_TRUE(Get(port, Between(second.body, "<img alt=\"\" src=\"", "\""), cookie).body ==
                std::string(small.begin(), small.end()))
        << "the unmasked picture";

    ui.Run([] { imagepreview::CloseImagePreview(); });
    EXPECT_EQ(imagepreview::PreviewHandle(), nullptr);
    g_wke = saved;
}

#endif

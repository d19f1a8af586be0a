// Runs the zephyrix-cli binary's frames command and checks the files it writes
// against the renderer called directly.

#include "CliTestUtil.h"
#include "core/Stream.h"
#include "core/flag/FlagRenderer.h"
#include "core/flag/LightTable.h"
#include "core/imaging/DefaultImage.h"

#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace zx {
namespace {

    namespace fs = std::filesystem;

    struct CliResult {
        int Status = -1;
        std::string Out;
        std::string Err;
    };

    class CliFrames : public cli_test::TCliTest {
    protected:
        // zephyrix-cli frames with the arguments.
        CliResult Run(const std::vector<std::string>& args) const
        {
            CliResult result;
            result.Status = TCliTest::Run("frames", args);
            result.Out = Stdout();
            result.Err = Stderr();
            return result;
        }
    };

    // The fields of a BMP file that the frames must get right, read straight from
    // the bytes (BITMAPFILEHEADER, then BITMAPINFOHEADER).
    struct BmpView {
        std::vector<std::uint8_t> Bytes;
        std::int32_t Width = 0;
        std::int32_t Height = 0;
        std::int32_t BitCount = 0;
        std::uint32_t Compression = 0;
        std::uint32_t PixelOffset = 0;

        explicit BmpView(const fs::path& path)
            : Bytes(ReadFileBytes(path.string()))
        {
            if (Bytes.size() < 54 || Bytes[0] != 'B' || Bytes[1] != 'M')
                return;
            PixelOffset = U32(10);
            Width = static_cast<std::int32_t>(U32(18));
            Height = static_cast<std::int32_t>(U32(22));
            BitCount = Bytes[28] | Bytes[29] << 8;
            Compression = U32(30);
        }
        std::uint32_t U32(std::size_t at) const
        {
            return Bytes[at] | Bytes[at + 1] << 8 | Bytes[at + 2] << 16
                | std::uint32_t(Bytes[at + 3]) << 24;
        }
        // Row y from the top of a bottom-up file.
        const std::uint8_t* Row(std::int32_t y) const
        {
            const std::size_t rowBytes = (std::size_t(Width) * BitCount / 8 + 3) / 4 * 4;
            return Bytes.data() + PixelOffset + rowBytes * std::size_t(Height - 1 - y);
        }
    };

    bool RowsMatch(const BmpView& file, const TDIB& picture)
    {
        const std::size_t bytes = std::size_t(picture.Width()) * picture.BitCount() / 8;
        for (std::int32_t y = 0; y < picture.Height(); ++y) {
            if (std::memcmp(file.Row(y), picture.ConstScanLine(y), bytes) != 0)
                return false;
        }
        return true;
    }

    TEST_F(CliFrames, WritesEveryFrameAndMaskAsTheRendererMakesThem)
    {
        const fs::path dir = m_dir / "out" / "frames";
        const CliResult result = Run({ "-d", dir.string(), "--frames", "3", "--size", "64x40",
            "--antialias=1", "--spot", "-100,50" });
        ASSERT_EQ(result.Status, 0) << result.Err;
        EXPECT_TRUE(result.Err.empty()) << result.Err;

        for (const char* name : { "frame-00.bmp", "frame-01.bmp", "frame-02.bmp", "mask-00.bmp",
                 "mask-01.bmp", "mask-02.bmp" })
            EXPECT_TRUE(fs::exists(dir / name)) << name;
        EXPECT_FALSE(fs::exists(dir / "frame-03.bmp"));

        FlagParameters params;
        params.Frames = 3;
        params.Antialiasing = 1;
        params.SpotX = -100;
        params.SpotY = 50;
        TDIB texture;
        LoadDefaultImage(texture);
        const TLightTable light = BuildLightTable(100, 50, false);
        TFrameStore store;
        for (std::int32_t k = 0; k < 3; ++k) {
            RenderFrame(store, std::uint16_t(k), FramePhase(k, 3), params,
                DeriveFlagValues(params, 64, 40), texture, light);
            const BmpView frame(dir / ("frame-0" + std::to_string(k) + ".bmp"));
            const BmpView mask(dir / ("mask-0" + std::to_string(k) + ".bmp"));
            ASSERT_EQ(frame.Width, 64);
            ASSERT_EQ(frame.Height, 40);
            ASSERT_EQ(frame.BitCount, 24);
            ASSERT_EQ(frame.Compression, 0u);
            ASSERT_EQ(mask.Width, 64);
            ASSERT_EQ(mask.Height, 40);
            ASSERT_EQ(mask.BitCount, 8);
            EXPECT_TRUE(RowsMatch(frame, store.FrameBitmaps[k])) << k;
            EXPECT_TRUE(RowsMatch(mask, store.FrameMasks[k])) << k;
        }
    }

    TEST_F(CliFrames, RendersAGivenBmpPicture)
    {
        // A 24-bit 40 x 30 picture written by TDIB's own writer.
        TDIB picture;
        picture.SetSize(40, 30, 24);
        for (std::int32_t y = 0; y < 30; ++y) {
            std::uint8_t* row = picture.ScanLine(y);
            for (std::int32_t x = 0; x < 40; ++x) {
                row[3 * x] = std::uint8_t(x * 6);
                row[3 * x + 1] = std::uint8_t(y * 8);
                row[3 * x + 2] = std::uint8_t(200 - x - y);
            }
        }
        TMemoryStream stream;
        picture.SaveToStream(stream);
        const fs::path source = m_dir / "picture.bmp";
        WriteFileAtomic(source.string(), stream.Data());

        const fs::path dir = m_dir / "out";
        const CliResult result = Run({ source.string(), "-d", dir.string(), "--frames=1",
            "--background", "FF8000", "--radial" });
        ASSERT_EQ(result.Status, 0) << result.Err;

        FlagParameters params;
        params.Frames = 1;
        params.Radial = true;
        params.TransparentMode = false;
        params.BackgroundColor = 0x000080FF;
        TFrameStore store;
        RenderFrame(store, 0, 0, params, DeriveFlagValues(params, 150, 97), picture,
            BuildLightTable(100, 50, false));
        const BmpView frame(dir / "frame-00.bmp");
        ASSERT_EQ(frame.Width, 150);
        ASSERT_EQ(frame.Height, 97);
        EXPECT_TRUE(RowsMatch(frame, store.FrameBitmaps[0]));
        // The corner is off the texture: the background in blue, green, red.
        EXPECT_EQ(frame.Row(0)[0], 0x00);
        EXPECT_EQ(frame.Row(0)[1], 0x80);
        EXPECT_EQ(frame.Row(0)[2], 0xFF);
    }

    TEST_F(CliFrames, RejectsBadOptionsWithoutWritingAnything)
    {
        const fs::path dir = m_dir / "never";
        const std::vector<std::vector<std::string>> cases = {
            { "--frames", "41" },
            { "--frames", "0" },
            { "--frames", "8x" },
            { "--antialias", "3" },
            { "--distance", "-51" },
            { "--amplitude", "101" },
            { "--frequency", "-101" },
            { "--angle", "361" },
            { "--bump-intensity", "101" },
            { "--bump-frequency", "-1" },
            { "--brightness", "201" },
            { "--contrast", "101" },
            { "--size", "321x97" },
            { "--size", "150x15" },
            { "--size", "150" },
            { "--spot", "512,0" },
            { "--spot", "0,-513" },
            { "--background", "GG0000" },
            { "--background", "FFF" },
            { "--radial=1" },
            { "--frames" },
            { "--no-such-option" },
            { "a.bmp", "b.bmp" },
            { (m_dir / "missing.bmp").string() },
        };
        for (const auto& extra : cases) {
            std::vector<std::string> args = { "-d", dir.string() };
            args.insert(args.end(), extra.begin(), extra.end());
            const CliResult result = Run(args);
            const std::string label = extra[0] + (extra.size() > 1 ? " " + extra[1] : "");
            EXPECT_NE(result.Status, 0) << label;
            EXPECT_FALSE(fs::exists(dir)) << label;
            // Exactly one line on stderr.
            ASSERT_FALSE(result.Err.empty()) << label;
            EXPECT_EQ(result.Err.find('\n'), result.Err.size() - 1) << label << ": " << result.Err;
        }

        const CliResult noDir = Run({ "--frames", "2" });
        EXPECT_NE(noDir.Status, 0);
        EXPECT_NE(noDir.Err.find("-d"), std::string::npos);

        // A folder that is a file.
        const fs::path file = m_dir / "plain-file";
        WriteFileAtomic(file.string(), std::vector<std::uint8_t> { 1, 2, 3 });
        const CliResult notFolder = Run({ "-d", file.string() });
        EXPECT_NE(notFolder.Status, 0);
        EXPECT_EQ(fs::file_size(file), 3u);
    }

    TEST_F(CliFrames, HelpListsEveryOptionWithItsRange)
    {
        const CliResult result = Run({ "--help" });
        ASSERT_EQ(result.Status, 0);
        for (const char* option : { "--frames N", "1..40, default 8", "--distance", "--antialias",
                 "--amplitude", "--frequency", "-100..100, default 50", "--angle", "--radial",
                 "--bump-intensity", "--bump-frequency", "--brightness", "0..200, default 100",
                 "--contrast", "--invert-light", "--background RRGGBB", "--opaque", "--spot X,Y",
                 "-512..511", "--size WxH", "default 150x97", "-d DIR" })
            EXPECT_NE(result.Out.find(option), std::string::npos) << option;
    }

} // namespace
} // namespace zx

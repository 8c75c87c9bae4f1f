// Camera images into frame buffers: byte order, masks, padding, refusals, and the Bayer
// phases (a swapped phase turns red into blue, which only a per-pattern check catches).

#include "../runtime/RuntimeTestSupport.h"

#include "vexo-camera/PixelFormatConverter.h"

#include <QtTest>

using namespace vexo::core;

using Bytes = std::vector<std::uint8_t>;

namespace {

// An image as the camera sends it, the buffer it goes into and what that buffer holds then.
struct Conversion
{
    uint code;
    QSize size;
    int stride;
    Bytes data;
    int bits;                              // of the format
    std::vector<std::uint16_t> expected;   // empty: refused, nothing written
    QVector<int> target = {};              // width, height, bits, gray; empty: the converter's format
};

} // namespace

Q_DECLARE_METATYPE(Conversion)

class TestPixelFormatConverter : public QObject
{
    Q_OBJECT

private slots:
    void convert_data()
    {
        QTest::addColumn<Conversion>("c");
        const auto row = [](const char* name, const Conversion& c) { QTest::newRow(name) << c; };
        const Bytes sevens(64, 7);
        const uint mono8 = PixelFormatConverter::Mono8;
        // Two lines with two bytes of padding after each.
        row("Mono8 padded", {mono8, {3, 2}, 5, {0, 128, 255, 9, 9, 1, 2, 3, 9, 9}, 8, {0, 128, 255, 1, 2, 3}});
        // Little-endian words; bits above the depth are cleared.
        row("Mono10", {PixelFormatConverter::Mono10, {2, 1}, 4, {0xff, 0xff, 0x34, 0x02}, 10, {0x3ff, 0x234}});
        row("Mono12", {PixelFormatConverter::Mono12, {2, 1}, 4, {0x34, 0x12, 0xff, 0x0f}, 12, {0x234, 0xfff}});
        row("Mono16", {PixelFormatConverter::Mono16, {2, 2}, 4, {0x34, 0x12, 0xff, 0xff, 0x01, 0x00, 0x00, 0x80}, 16,
            {0x1234, 0xffff, 0x0001, 0x8000}});
        row("RGB8", {PixelFormatConverter::RGB8, {2, 1}, 6, {1, 2, 3, 250, 251, 252}, 8, {1, 2, 3, 250, 251, 252}});
        row("BGR8 swapped", {PixelFormatConverter::BGR8, {2, 1}, 7, {1, 2, 3, 250, 251, 252, 0}, 8, {3, 2, 1, 252, 251, 250}});
        // The last line needs no padding after it: stride x (height - 1) + a line.
        row("last line unpadded", {mono8, {2, 3}, 5, {1, 2, 9, 9, 9, 3, 4, 9, 9, 9, 5, 6}, 8, {1, 2, 3, 4, 5, 6}});
        row("one byte short", {mono8, {2, 3}, 5, {1, 2, 9, 9, 9, 3, 4, 9, 9, 9, 5}, 8, {}});
        row("stride below a line", {mono8, {4, 4}, 3, sevens, 8, {}});
        // A packed 12-bit format is not one we show: refused by the name of its code.
        row("packed format", {0x010C0006u, {4, 4}, 4, sevens, 8, {}});
        // A buffer of another format is left as it was.
        row("wider buffer", {mono8, {4, 4}, 4, sevens, 8, {}, {5, 4, 8, 1}});
        row("higher buffer", {mono8, {4, 4}, 4, sevens, 8, {}, {4, 5, 8, 1}});
        row("deeper buffer", {mono8, {4, 4}, 4, sevens, 8, {}, {4, 4, 12, 1}});
        row("colour buffer", {mono8, {4, 4}, 4, sevens, 8, {}, {4, 4, 8, 0}});
    }

    void convert()
    {
        QFETCH(Conversion, c);
        const PixelFormatConverter converter(c.code, c.size.width(), c.size.height());
        if (c.target.isEmpty())
            c.target = {c.size.width(), c.size.height(), c.bits, converter.frameFormat().gray};
        FrameBuffer buffer(c.target[0], c.target[1], c.target[2], c.target[3] != 0);
        QCOMPARE(converter.isSupported(), c.code != 0x010C0006u);
        if (converter.isSupported())
            QCOMPARE(converter.frameFormat().bitsPerPixel, c.bits);
        else
            QVERIFY2(converter.error().find("0x010C0006") != std::string::npos, converter.error().c_str());
        QCOMPARE(converter.convert(c.data.data(), c.data.size(), c.stride, buffer), !c.expected.empty());
        if (c.expected.empty())
            c.expected.assign(std::size_t(buffer.width() * buffer.height() * buffer.channels()), 0);
        QCOMPARE(samplesOf(buffer), c.expected);
    }

    void bayerReproducesLinearFields_data()
    {
        QTest::addColumn<uint>("code");
        QTest::addColumn<QString>("sites"); // colours of the top-left 2 x 2 sites, row by row
        QTest::newRow("RG") << uint(PixelFormatConverter::BayerRG8) << "RGGB";
        QTest::newRow("GR") << uint(PixelFormatConverter::BayerGR8) << "GRBG";
        QTest::newRow("GB") << uint(PixelFormatConverter::BayerGB8) << "GBRG";
        QTest::newRow("BG") << uint(PixelFormatConverter::BayerBG8) << "BGGR";
    }

    // Bilinear interpolation is exact on linear fields: every interior pixel comes back as
    // the scene was, all three colours, whatever the phase. Sites keep their own value up
    // to the border, and border estimates stay within the field's range.
    void bayerReproducesLinearFields()
    {
        QFETCH(uint, code);
        QFETCH(QString, sites);
        const int width = 9, height = 7;
        const auto field = [](int c, int x, int y) { return c == 0 ? 10 + 3 * x + 5 * y : c == 1 ? 20 + 2 * x + 7 * y : 200 - 4 * x - 3 * y; };
        const auto siteColour = [&sites](int x, int y) { return QString("RGB").indexOf(sites[(y & 1) * 2 + (x & 1)]); };
        Bytes mosaic(width * height);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                mosaic[y * width + x] = std::uint8_t(field(siteColour(x, y), x, y));
        const PixelFormatConverter converter(code, width, height);
        QVERIFY(converter.isSupported() && !converter.frameFormat().gray);
        FrameBuffer target(width, height, 8, false);
        QVERIFY(converter.convert(mosaic.data(), mosaic.size(), width, target));
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                for (int c = 0; c < 3; ++c) {
                    const int got = target.line(y)[3 * x + c], a = field(c, 0, 0), b = field(c, width - 1, height - 1);
                    if ((x > 0 && y > 0 && x < width - 1 && y < height - 1) || c == siteColour(x, y))
                        QVERIFY2(got == field(c, x, y), qPrintable(QString("(%1,%2) colour %3: %4").arg(x).arg(y).arg(c).arg(got)));
                    else
                        QVERIFY(got >= std::min(a, b) && got <= std::max(a, b));
                }
    }
};

QTEST_APPLESS_MAIN(TestPixelFormatConverter)
#include "tst_pixel_format_converter.moc"

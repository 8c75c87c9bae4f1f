// Camera images into frame buffers: byte order, masks, padding, refusals, and the Bayer
// phases (a swapped phase turns red into blue, which only a per-pattern check catches).

#include "vexo-camera/PixelFormatConverter.h"
#include "vexo-lib-display/FrameBuffer.h"

#include <QtTest>

#include <vector>

using vexo::core::FrameBuffer;
using vexo::core::PixelFormatConverter;

using Bytes = std::vector<std::uint8_t>;
using Samples = std::vector<std::uint16_t>;
Q_DECLARE_METATYPE(Bytes)
Q_DECLARE_METATYPE(Samples)

class TestPixelFormatConverter : public QObject
{
    Q_OBJECT

private slots:
    void convert_data();
    void convert();
    void refusals();
    void bayerReproducesLinearFields_data();
    void bayerReproducesLinearFields();
};

void TestPixelFormatConverter::convert_data()
{
    QTest::addColumn<uint>("code");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("stride");
    QTest::addColumn<Bytes>("data");
    QTest::addColumn<int>("bits");
    QTest::addColumn<Samples>("expected");

    // Two lines with two bytes of padding after each.
    QTest::newRow("Mono8 padded") << uint(PixelFormatConverter::Mono8) << 3 << 2 << 5
                                  << Bytes{0, 128, 255, 9, 9, 1, 2, 3, 9, 9} << 8
                                  << Samples{0, 128, 255, 1, 2, 3};
    // Little-endian words; bits above the depth are cleared.
    QTest::newRow("Mono10") << uint(PixelFormatConverter::Mono10) << 2 << 1 << 4
                            << Bytes{0xff, 0xff, 0x34, 0x02} << 10 << Samples{0x3ff, 0x234};
    QTest::newRow("Mono12") << uint(PixelFormatConverter::Mono12) << 2 << 1 << 4
                            << Bytes{0x34, 0x12, 0xff, 0x0f} << 12 << Samples{0x234, 0xfff};
    QTest::newRow("Mono16") << uint(PixelFormatConverter::Mono16) << 2 << 2 << 4
                            << Bytes{0x34, 0x12, 0xff, 0xff, 0x01, 0x00, 0x00, 0x80} << 16
                            << Samples{0x1234, 0xffff, 0x0001, 0x8000};
    QTest::newRow("RGB8") << uint(PixelFormatConverter::RGB8) << 2 << 1 << 6
                          << Bytes{1, 2, 3, 250, 251, 252} << 8 << Samples{1, 2, 3, 250, 251, 252};
    QTest::newRow("BGR8 swapped") << uint(PixelFormatConverter::BGR8) << 2 << 1 << 7
                                  << Bytes{1, 2, 3, 250, 251, 252, 0} << 8
                                  << Samples{3, 2, 1, 252, 251, 250};
}

void TestPixelFormatConverter::convert()
{
    QFETCH(uint, code);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, stride);
    QFETCH(Bytes, data);
    QFETCH(int, bits);
    QFETCH(Samples, expected);

    const PixelFormatConverter converter(code, width, height);
    QVERIFY(converter.isSupported());
    QCOMPARE(converter.frameFormat().bitsPerPixel, bits);
    FrameBuffer target(width, height, bits, converter.frameFormat().gray);
    QVERIFY(converter.convert(data.data(), data.size(), stride, target));
    Samples got;
    for (int y = 0; y < height; ++y)
        got.insert(got.end(), target.line(y), target.line(y) + width * target.channels());
    QCOMPARE(got, expected);
}

void TestPixelFormatConverter::refusals()
{
    // A packed 12-bit format is not one we show: refused by name of its code.
    const PixelFormatConverter packed(0x010C0006, 4, 4);
    QVERIFY(!packed.isSupported());
    QVERIFY(packed.error().find("0x010C0006") != std::string::npos);
    FrameBuffer gray(4, 4, 8, true);
    Bytes bytes(64, 7);
    QVERIFY(!packed.convert(bytes.data(), bytes.size(), 4, gray));

    // Too few bytes, a short stride, a buffer of another format: nothing is written.
    const PixelFormatConverter mono(PixelFormatConverter::Mono8, 4, 4);
    QCOMPARE(mono.imageBytes(6), std::size_t(6 * 3 + 4));
    QVERIFY(!mono.convert(bytes.data(), 6 * 3 + 3, 6, gray));
    QVERIFY(!mono.convert(bytes.data(), bytes.size(), 3, gray));
    FrameBuffer wide(5, 4, 8, true), deep(4, 4, 12, true), colour(4, 4, 8, false);
    QVERIFY(!mono.convert(bytes.data(), bytes.size(), 4, wide));
    QVERIFY(!mono.convert(bytes.data(), bytes.size(), 4, deep));
    QVERIFY(!mono.convert(bytes.data(), bytes.size(), 4, colour));
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            QCOMPARE(gray.line(y)[x], std::uint16_t(0));
    QVERIFY(mono.convert(bytes.data(), mono.imageBytes(4), 4, gray));
    QCOMPARE(gray.line(3)[3], std::uint16_t(7));
}

void TestPixelFormatConverter::bayerReproducesLinearFields_data()
{
    QTest::addColumn<uint>("code");
    QTest::addColumn<QString>("sites"); // colours of the top-left 2 x 2 sites, row by row
    QTest::newRow("RG") << uint(PixelFormatConverter::BayerRG8) << "RGGB";
    QTest::newRow("GR") << uint(PixelFormatConverter::BayerGR8) << "GRBG";
    QTest::newRow("GB") << uint(PixelFormatConverter::BayerGB8) << "GBRG";
    QTest::newRow("BG") << uint(PixelFormatConverter::BayerBG8) << "BGGR";
}

// Bilinear interpolation is exact on linear fields: every interior pixel must come back
// as the scene was, all three colours, whatever the phase. Sites keep their own value up
// to the border, and border estimates stay within the field's range.
void TestPixelFormatConverter::bayerReproducesLinearFields()
{
    QFETCH(uint, code);
    QFETCH(QString, sites);
    const int width = 9, height = 7;
    const auto field = [](int c, int x, int y) {
        switch (c) {
        case 0: return 10 + 3 * x + 5 * y;
        case 1: return 20 + 2 * x + 7 * y;
        default: return 200 - 4 * x - 3 * y;
        }
    };
    const auto siteColour = [&sites](int x, int y) {
        return QString("RGB").indexOf(sites[(y & 1) * 2 + (x & 1)]);
    };
    Bytes mosaic(width * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            mosaic[y * width + x] = std::uint8_t(field(siteColour(x, y), x, y));

    const PixelFormatConverter converter(code, width, height);
    QVERIFY(converter.isSupported());
    QVERIFY(!converter.frameFormat().gray);
    FrameBuffer target(width, height, 8, false);
    QVERIFY(converter.convert(mosaic.data(), mosaic.size(), width, target));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c) {
                const int got = target.line(y)[3 * x + c];
                const bool interior = x > 0 && y > 0 && x < width - 1 && y < height - 1;
                if (interior || c == siteColour(x, y)) {
                    QVERIFY2(got == field(c, x, y), qPrintable(QString("(%1,%2) colour %3: %4 instead of %5")
                                                                   .arg(x).arg(y).arg(c).arg(got).arg(field(c, x, y))));
                } else {
                    const int a = field(c, 0, 0), b = field(c, width - 1, height - 1);
                    QVERIFY(got >= std::min(a, b) && got <= std::max(a, b));
                }
            }
}

QTEST_APPLESS_MAIN(TestPixelFormatConverter)
#include "tst_pixel_format_converter.moc"

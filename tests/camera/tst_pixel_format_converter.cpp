// Camera images into frame buffers: byte order, masks, padding, refusals, and the Bayer
// phases (a swapped phase turns red into blue, which only a per-pattern check catches).

#include "../runtime/RuntimeTestSupport.h"

#include "vexo-camera/PixelFormatConverter.h"

#include <QtTest>

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
    void bayerReproducesLinearFields_data();
    void bayerReproducesLinearFields();
};

void TestPixelFormatConverter::convert_data()
{
    QTest::addColumn<uint>("code");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("stride");
    QTest::addColumn<Bytes>("data");
    QTest::addColumn<int>("bits");
    QTest::addColumn<QVector<int>>("target"); // width, height, bits, gray; empty: the converter's format
    QTest::addColumn<Samples>("expected");    // empty: refused, nothing written
    const Bytes sevens(64, 7);
    const QVector<int> own; // the converter's format
    const uint mono8 = PixelFormatConverter::Mono8;
    // Two lines with two bytes of padding after each.
    QTest::newRow("Mono8 padded") << mono8 << QSize(3, 2) << 5 << Bytes{0, 128, 255, 9, 9, 1, 2, 3, 9, 9} << 8 << own
                                  << Samples{0, 128, 255, 1, 2, 3};
    // Little-endian words; bits above the depth are cleared.
    QTest::newRow("Mono10") << uint(PixelFormatConverter::Mono10) << QSize(2, 1) << 4 << Bytes{0xff, 0xff, 0x34, 0x02}
                            << 10 << own << Samples{0x3ff, 0x234};
    QTest::newRow("Mono12") << uint(PixelFormatConverter::Mono12) << QSize(2, 1) << 4 << Bytes{0x34, 0x12, 0xff, 0x0f}
                            << 12 << own << Samples{0x234, 0xfff};
    QTest::newRow("Mono16") << uint(PixelFormatConverter::Mono16) << QSize(2, 2) << 4
                            << Bytes{0x34, 0x12, 0xff, 0xff, 0x01, 0x00, 0x00, 0x80} << 16 << own
                            << Samples{0x1234, 0xffff, 0x0001, 0x8000};
    QTest::newRow("RGB8") << uint(PixelFormatConverter::RGB8) << QSize(2, 1) << 6 << Bytes{1, 2, 3, 250, 251, 252} << 8
                          << own << Samples{1, 2, 3, 250, 251, 252};
    QTest::newRow("BGR8 swapped") << uint(PixelFormatConverter::BGR8) << QSize(2, 1) << 7
                                  << Bytes{1, 2, 3, 250, 251, 252, 0} << 8 << own << Samples{3, 2, 1, 252, 251, 250};
    // The last line needs no padding after it: stride x (height - 1) + a line.
    QTest::newRow("last line unpadded") << mono8 << QSize(2, 3) << 5 << Bytes{1, 2, 9, 9, 9, 3, 4, 9, 9, 9, 5, 6} << 8
                                        << own << Samples{1, 2, 3, 4, 5, 6};
    QTest::newRow("one byte short") << mono8 << QSize(2, 3) << 5 << Bytes{1, 2, 9, 9, 9, 3, 4, 9, 9, 9, 5} << 8 << own
                                    << Samples();
    QTest::newRow("stride below a line") << mono8 << QSize(4, 4) << 3 << sevens << 8 << own << Samples();
    // A packed 12-bit format is not one we show: refused by the name of its code.
    QTest::newRow("packed format") << 0x010C0006u << QSize(4, 4) << 4 << sevens << 8 << own << Samples();
    // A buffer of another format is left as it was.
    QTest::newRow("wider buffer") << mono8 << QSize(4, 4) << 4 << sevens << 8 << QVector<int>{5, 4, 8, 1} << Samples();
    QTest::newRow("higher buffer") << mono8 << QSize(4, 4) << 4 << sevens << 8 << QVector<int>{4, 5, 8, 1} << Samples();
    QTest::newRow("deeper buffer") << mono8 << QSize(4, 4) << 4 << sevens << 8 << QVector<int>{4, 4, 12, 1}
                                   << Samples();
    QTest::newRow("colour buffer") << mono8 << QSize(4, 4) << 4 << sevens << 8 << QVector<int>{4, 4, 8, 0} << Samples();
}

void TestPixelFormatConverter::convert()
{
    QFETCH(uint, code);
    QFETCH(QSize, size);
    QFETCH(int, stride);
    QFETCH(Bytes, data);
    QFETCH(int, bits);
    QFETCH(QVector<int>, target);
    QFETCH(Samples, expected);
    const PixelFormatConverter converter(code, size.width(), size.height());
    if (target.isEmpty())
        target = {size.width(), size.height(), bits, converter.frameFormat().gray};
    FrameBuffer buffer(target[0], target[1], target[2], target[3] != 0);
    QCOMPARE(converter.isSupported(), code != 0x010C0006u);
    if (converter.isSupported())
        QCOMPARE(converter.frameFormat().bitsPerPixel, bits);
    else
        QVERIFY2(converter.error().find("0x010C0006") != std::string::npos, converter.error().c_str());
    QCOMPARE(converter.convert(data.data(), data.size(), stride, buffer), !expected.empty());
    if (expected.empty())
        expected.assign(std::size_t(buffer.width() * buffer.height() * buffer.channels()), 0);
    QCOMPARE(samplesOf(buffer), expected);
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
        return c == 0 ? 10 + 3 * x + 5 * y : c == 1 ? 20 + 2 * x + 7 * y : 200 - 4 * x - 3 * y;
    };
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
                const int got = target.line(y)[3 * x + c];
                const bool interior = x > 0 && y > 0 && x < width - 1 && y < height - 1;
                const int a = field(c, 0, 0), b = field(c, width - 1, height - 1);
                if (interior || c == siteColour(x, y))
                    QVERIFY2(got == field(c, x, y), qPrintable(QString("(%1,%2) colour %3: %4 instead of %5")
                                                                   .arg(x).arg(y).arg(c).arg(got).arg(field(c, x, y))));
                else
                    QVERIFY(got >= std::min(a, b) && got <= std::max(a, b));
            }
}

QTEST_APPLESS_MAIN(TestPixelFormatConverter)
#include "tst_pixel_format_converter.moc"

// The pictures built into the program decode with libjpeg; damaged data raises.

#include "app/pictures.h"

#include <QFile>
#include <QPixmap>

#include "app_test.h"

namespace tarvik {

class PicturesTest : public QObject {
    Q_OBJECT

  private:
    static QByteArray Resource(const char* name) {
        QFile file(QStringLiteral(":/pictures/%1.jpg").arg(QLatin1String(name)));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return file.readAll();
    }

  private slots:
    void everyPictureDecodes_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QSize>("size");
        const std::pair<const char*, QSize> pictures[] = {{"start", {24, 24}},
                                                          {"stop", {24, 24}},
                                                          {"send", {24, 24}},
                                                          {"sum", {24, 24}},
                                                          {"bcc", {24, 24}},
                                                          {"cal", {24, 24}},
                                                          {"notepad", {24, 24}},
                                                          {"clear", {24, 24}},
                                                          {"timer", {16, 16}},
                                                          {"about", {48, 48}},
                                                          {"hidden", {150, 176}},
                                                          {"ascii", {715, 475}},
                                                          {"ascii_extend", {573, 322}},
                                                          {"menu_load", {16, 16}},
                                                          {"menu_save", {16, 16}},
                                                          {"menu_copyall", {16, 16}},
                                                          {"menu_copy", {16, 16}},
                                                          {"menu_paste", {16, 16}},
                                                          {"menu_clear", {16, 16}}};
        for (const auto& [name, size] : pictures) QTest::newRow(name) << QString(name) << size;
    }
    void everyPictureDecodes() {
        QFETCH(QString, name);
        QFETCH(QSize, size);
        const QByteArray data = Resource(name.toLatin1().constData());
        QVERIFY(!data.isEmpty());
        const QImage image = DecodeJpeg(reinterpret_cast<const unsigned char*>(data.constData()),
                                        static_cast<std::size_t>(data.size()));
        QCOMPARE(image.size(), size);
        QCOMPARE(image.format(), QImage::Format_RGB888);
        QCOMPARE(LoadPicture(name.toLatin1().constData()).size(), size);
    }

    void buttonPictureBackgroundIsTransparent() {
        const QImage stop = LoadTransparentPicture("stop").toImage();
        QCOMPARE(qAlpha(stop.pixel(0, 23)), 0);
        QCOMPARE(qAlpha(stop.pixel(1, 1)), 0);
        QCOMPARE(qAlpha(stop.pixel(12, 12)), 255);  // the red square
        QVERIFY(qRed(stop.pixel(12, 12)) > 150);
    }

    void damagedDataRaises_data() {
        QTest::addColumn<QByteArray>("data");
        const QByteArray good = Resource("ascii");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("not a JPEG") << QByteArray("GIF89a not a jpeg at all");
        QTest::newRow("header only") << good.left(200);
        QTest::newRow("cut in half") << good.left(good.size() / 2);
        QByteArray noMarkers = good;
        noMarkers.truncate(good.size() - 2);  // without the end-of-image marker
        noMarkers.replace(noMarkers.size() / 2, 4000, QByteArray(4000, '\xFF'));
        QTest::newRow("overwritten middle") << noMarkers;
    }
    void damagedDataRaises() {
        QFETCH(QByteArray, data);
        QVERIFY_THROWS_EXCEPTION(
            EPictureError, DecodeJpeg(reinterpret_cast<const unsigned char*>(data.constData()),
                                      static_cast<std::size_t>(data.size())));
    }

    void missingPictureRaises() {
        QVERIFY_THROWS_EXCEPTION(EPictureError, LoadPicture("no_such_picture"));
    }
};

}  // namespace tarvik

TARVIK_APP_TEST_MAIN(tarvik::PicturesTest)
#include "pictures_test.moc"

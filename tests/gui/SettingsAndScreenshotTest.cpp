// The two settings kept between runs (graph size, screenshot prefix), their dialogs, the
// screenshot picture and its file, and the demo laboratory's meters.

#include "acquisition/SelectDialog.h"
#include "app/DemoLab.h"
#include "app/MainFrame.h"
#include "capture/WindowCapture.h"
#include "channel/KelvarinView.h"
#include "detectors/ChannelConfigFile.h"
#include "gui/MessageBox.h"
#include "res/CommandIds.h"
#include "support/DialogInput.h"
#include "support/LocalTime.h"
#include "support/ModalDialogs.h"
#include "support/TempHome.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QToolBar>
#include <QtTest>

#include <filesystem>
#include <fstream>

namespace {

TempHome g_home; // KELVARIN_HOME and XDG_CONFIG_HOME: no real settings touched

QString Home(const std::string& rest) {
    return QString::fromStdString(g_home.Path() + rest);
}

} // namespace

class SettingsAndScreenshotTest : public QObject {
    Q_OBJECT

    QStringList m_messages;

private slots:
    void initTestCase() {
        qputenv("KELVARIN_PORTS_ONLY", "1");
        SetMessageInterceptor([this](const QString& text) { m_messages << text; });
    }
    void init() { m_messages.clear(); }

    void graphSizeIsCheckedAppliedAndKept() {
        {
            CMainFrame frame;
            QCOMPARE(frame.m_nGraphBufferSize, 2000); // first run: the default
            QCOMPARE(frame.m_strScreenshotBase, g_home.Path() + "/CaptureScreen");
            for (const char* refused : {"499", "5001"}) {
                m_messages.clear();
                OnModal([&](QWidget* dialog) {
                    Type(dialog, "editGraphSize", refused);
                    Click(dialog, "buttonOk");
                    QVERIFY(dialog->isVisible()); // stays open
                    Click(dialog, "buttonCancel");
                });
                frame.OnCommand(Command::GraphicalParameters);
                QCOMPARE(m_messages, QStringList{"Please enter an integer between 500 and 5000."});
            }
            m_messages.clear();
            OnModal([](QWidget* dialog) {
                Type(dialog, "editGraphSize", "5000");
                Click(dialog, "buttonOk");
            });
            frame.OnCommand(Command::GraphicalParameters);
            QCOMPARE(frame.m_nGraphBufferSize, 5000);

            // Every channel, bound or not, keeps that many points (the cut itself is the
            // channel's, tested with it).
            OnModal([](QWidget* dialog) {
                Type(dialog, "editGraphSize", "500");
                Click(dialog, "buttonOk");
            });
            frame.OnCommand(Command::GraphicalParameters);
            for (int p = 0; p < CMainFrame::kPositions; ++p)
                QCOMPARE(frame.GetChannel(p).GraphMaxPoints(), 500);
            QVERIFY(m_messages.isEmpty());
        }
        CMainFrame next; // the next run
        QCOMPARE(next.m_nGraphBufferSize, 500);
        QCOMPARE(next.GetChannel(3).GraphMaxPoints(), 500);

        // A damaged stored size does not empty the graphs; other stored sizes are used as they are.
        QSettings("Kelvarin", "Kelvarin").setValue("Param/GraphBufferSize", 0);
        QCOMPARE(CMainFrame().m_nGraphBufferSize, 2000);
        QSettings("Kelvarin", "Kelvarin").setValue("Param/GraphBufferSize", 20000);
        QCOMPARE(CMainFrame().m_nGraphBufferSize, 20000);
        QSettings("Kelvarin", "Kelvarin").remove("Param/GraphBufferSize");
    }

    void screenshotPrefixIsKeptWhicheverButtonCloses() {
        const QString folder = Home("/shots");
        QVERIFY(QDir().mkpath(folder));
        CMainFrame frame;
        const std::string before = frame.m_strScreenshotBase;
        // Typed, then Cancel: not taken.
        OnModal([](QWidget* dialog) {
            Type(dialog, "editFile", "/elsewhere/x");
            Click(dialog, "buttonCancel");
        });
        frame.OnCommand(Command::ScreenshotSettings);
        QCOMPARE(frame.m_strScreenshotBase, before);

        // Browsed, then Cancel: the chosen path is the prefix.
        QString title, opened;
        OnModal([&](QWidget* dialog) {
            Type(dialog, "editFile", folder + "/old");
            OnModal([&](QWidget* chooser) {
                auto* select = qobject_cast<CSelectDialog*>(chooser);
                QVERIFY(select);
                title = select->windowTitle();
                opened = select->directory().path();
                QTest::keyClicks(select->findChild<QLineEdit*>("fileNameEdit"), "bench");
                QTest::mouseClick(select->findChild<QDialogButtonBox*>("buttonBox")
                                      ->button(QDialogButtonBox::Open),
                                  Qt::LeftButton);
                QTimer::singleShot(0, dialog, [dialog] { Click(dialog, "buttonCancel"); });
            });
            Click(dialog, "buttonBrowse");
        });
        frame.OnCommand(Command::ScreenshotSettings);
        QCOMPARE(title, QString("Specify the name and the location for your screenshot"));
        QCOMPARE(opened, folder); // the folder of the prefix typed
        QCOMPARE(QString::fromStdString(frame.m_strScreenshotBase), folder + "/bench");
        QCOMPARE(QString::fromStdString(CMainFrame().m_strScreenshotBase), folder + "/bench");

        // Typed, then OK.
        OnModal([&](QWidget* dialog) {
            Type(dialog, "editFile", folder + "/lab");
            Click(dialog, "buttonOk");
        });
        frame.OnCommand(Command::ScreenshotSettings);
        QCOMPARE(QString::fromStdString(CMainFrame().m_strScreenshotBase), folder + "/lab");
    }

    void screenshotIsTheClientAreaFramedAndShifted() {
        CMainFrame frame;
        frame.resize(900, 600);
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        frame.m_strScreenshotBase = g_home.Path() + "/cap";
        const std::time_t when = LocalTime(2011, 3, 25, 14, 5, 9);
        const QString path = Home("/cap20112503_140509.bmp");
        const QRect client = frame.ClientArea();
        const QImage expectedClient =
            frame.grab(client).toImage().convertToFormat(QImage::Format_RGB32);

        frame.SaveScreenshotAt(when);
        QCOMPARE(m_messages, QStringList{path});
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.read(2), QByteArray("BM"));
        file.close();
        const QImage saved = QImage(path, "BMP").convertToFormat(QImage::Format_RGB32);
        QCOMPARE(saved.size(), client.size());
        const int w = saved.width(), h = saved.height();
        for (int x = 0; x < w; x += 7) {
            QCOMPARE(saved.pixel(x, 0), qRgb(0, 0, 0));
            QCOMPARE(saved.pixel(x, h - 1), qRgb(0, 0, 0));
        }
        for (int y = 0; y < h; y += 7) {
            QCOMPARE(saved.pixel(0, y), qRgb(0, 0, 0));
            QCOMPARE(saved.pixel(w - 1, y), qRgb(0, 0, 0));
        }
        const QRgb background = frame.palette().color(QPalette::Window).rgb();
        QCOMPARE(saved.pixel(1, 40), background);
        QCOMPARE(saved.pixel(2, 40), background);
        QCOMPARE(saved.pixel(40, 1), background);
        for (const QPoint at : {QPoint(3, 2), QPoint(100, 30), QPoint(w / 2, h / 2),
                                QPoint(w - 2, h - 2), QPoint(20, h - 10)})
            QCOMPARE(saved.pixel(at), expectedClient.pixel(at.x() - 3, at.y() - 2));

        // A second capture in the same second takes the same name and replaces the first.
        frame.resize(700, 500);
        QCoreApplication::processEvents();
        frame.SaveScreenshotAt(when);
        QCOMPARE(m_messages, (QStringList{path, path}));
        QCOMPARE(QImage(path, "BMP").size(), frame.ClientArea().size());

        // A folder that is not there, or a file in its place: said, and nothing left behind.
        m_messages.clear();
        frame.m_strScreenshotBase = g_home.Path() + "/missing/cap";
        frame.SaveScreenshotAt(when);
        QCOMPARE(m_messages, QStringList{"Unable to save the screenshot " + Home("/missing/cap") +
                                         "20112503_140509.bmp: No such file or directory"});
        std::ofstream(g_home.Path() + "/plain") << "x";
        m_messages.clear();
        frame.m_strScreenshotBase = g_home.Path() + "/plain/cap";
        frame.SaveScreenshotAt(when);
        QCOMPARE(m_messages, QStringList{"Unable to save the screenshot " + Home("/plain/cap") +
                                         "20112503_140509.bmp: Not a directory"});

        // The toolbar button does the same with the time of the click.
        m_messages.clear();
        frame.m_strScreenshotBase = g_home.Path() + "/button";
        QToolBar* bar = frame.findChild<QToolBar*>("toolBar");
        for (QAction* action : bar->actions())
            if (action->data().toInt() == Command::CaptureScreen)
                QTest::mouseClick(bar->widgetForAction(action), Qt::LeftButton);
        QCOMPARE(m_messages.size(), 1);
        QVERIFY(m_messages[0].startsWith(Home("/button")) && m_messages[0].endsWith(".bmp"));
        QVERIFY(QFile::exists(m_messages[0]));
    }

    // The demo keeps its meters' files in a folder of its own: titles, levels around each
    // meter's power, positions in order; one laser fades out of its band a minute in.
    void demoMetersHaveTheirOwnConfigurations() {
        const std::string userFolder = ConfigFolder();
        {
            CDemoLab lab;
            std::string error;
            QVERIFY2(lab.Start(3, error), error.c_str());
            QVERIFY(ConfigFolder() != userFolder);
            QCOMPARE(ConfigFolder(), lab.Folder());
            for (int i = 0; i < 3; ++i) {
                const MeterProfile profile = CDemoLab::Profile(i);
                CChannelConfig config;
                QCOMPARE(LoadChannelConfigFile(profile.serialReply.substr(4), config, error),
                         ConfigLoad::Loaded);
                QCOMPARE(config.m_strTitle, CDemoLab::Title(i));
                QCOMPARE(config.m_nPosition, i);
                QVERIFY(config.m_fLevelLow < profile.nominalWatts);
                QVERIFY(config.m_fLevelHigh > profile.nominalWatts);
                // In its band for ten minutes, drift and all, but for the fading one.
                bool leaves = false;
                for (double t = 0; t < 600; t += 1) {
                    const double w = ModelPower(profile, t, config.m_nWavelength);
                    if (w < config.m_fLevelLow || w > config.m_fLevelHigh) {
                        leaves = true;
                        if (i == CDemoLab::kFadingMeter) {
                            QVERIFY2(t > 60 && t < 120, qPrintable(QString::number(t)));
                            QVERIFY(w > 0.5 * profile.nominalWatts); // faded, not gone
                        }
                        break;
                    }
                }
                QCOMPARE(leaves, i == CDemoLab::kFadingMeter);
            }
            QVERIFY(!std::filesystem::exists(userFolder)); // nothing in the user's folder
        }
        QCOMPARE(ConfigFolder(), userFolder);
    }
};

QTEST_MAIN(SettingsAndScreenshotTest)
#include "SettingsAndScreenshotTest.moc"

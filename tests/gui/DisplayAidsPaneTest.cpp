// The pane's aids as a user meets them: the tuning display's bar and peak-hold mark read back
// from the pane's pixels, and the zero, units and reference chosen from the real context menu of
// a pane in the window, kept for the head when it comes back at another position.

#include "app/MainFrame.h"
#include "channel/KelvarinView.h"
#include "channel/RepaintTicker.h"
#include "detectors/ChannelConfigFile.h"
#include "detectors/DisplayAidsFile.h"
#include "gui/MessageBox.h"
#include "res/CommandIds.h"
#include "sim/MeterSimulator.h"
#include "support/ModalDialogs.h"
#include "support/ReadFile.h"
#include "support/SteadyMeter.h"
#include "support/TempHome.h"

#include <QApplication>
#include <QMenu>
#include <QtTest>

namespace {

TempHome g_home; // before any settings are read

const QRgb kBarFill = qRgb(0, 140, 60), kPeakMark = qRgb(255, 0, 0);

// The columns of `row` painted `colour`.
QVector<int> ColumnsOf(const QImage& image, int row, QRgb colour) {
    QVector<int> columns;
    for (int x = 0; x < image.width(); ++x)
        if (image.pixel(x, row) == colour)
            columns << x;
    return columns;
}

// Opens the pane's context menu as a right click does and triggers the entry at `path` (a
// submenu's title, then its entry). False when an entry is missing or disabled.
bool ChooseFromMenu(CKelvarinView& view, const QStringList& path) {
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(20, 20),
                            view.mapToGlobal(QPoint(20, 20)));
    QApplication::sendEvent(&view, &event);
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (!menu)
        return false;
    QMenu* in = menu;
    bool found = false;
    for (const QString& text : path) {
        found = false;
        for (QAction* action : in->actions()) {
            if (action->text() != text)
                continue;
            found = action->isEnabled();
            if (found && action->menu())
                in = action->menu();
            else if (found)
                action->trigger();
            break;
        }
        if (!found)
            break;
    }
    menu->close();
    return found;
}

QStringList EntriesOf(CKelvarinView& view, const QString& submenu) {
    std::unique_ptr<QMenu> menu(view.CreateContextMenu(nullptr));
    QStringList texts;
    for (QAction* action : menu->actions())
        if (action->text() == submenu && action->menu())
            for (QAction* entry : action->menu()->actions())
                texts << entry->text() + (entry->isChecked() ? "*" : "");
    return texts;
}

} // namespace

class DisplayAidsPaneTest : public QObject {
    Q_OBJECT

private:
    QStringList m_messages;

private slots:
    void initTestCase() {
        SetMessageInterceptor([this](const QString& text) { m_messages << text; });
    }

    // The bar runs from 0 to the full scale of the range holding the peak (3 mW for 2.5 mW);
    // the mark stays at the peak when the power falls, and "Reset Peak" brings it to the value.
    void theTuningBarAndItsPeakMarkFromThePixels() {
        CChannel channel;
        CKelvarinView view(channel);
        view.resize(800, 600);
        view.OnCommand(Command::TuningDisplay);
        QCOMPARE(view.m_nDisplayMode, int(CKelvarinView::Tuning));
        channel.OnNewValue(2.5e-3f);
        channel.OnNewValue(1e-3f);
        // The bar: x from 64 to 736 (672 px), rows 348 to 414.
        const int row = 381;
        QImage image = view.Render();
        QVector<int> fill = ColumnsOf(image, row, kBarFill);
        QVERIFY(!fill.isEmpty());
        QCOMPARE(fill.first(), 65);
        QCOMPARE(fill.size(), 223); // a third of the bar, inside its frame
        QCOMPARE(ColumnsOf(image, row, kPeakMark), (QVector<int>{623, 624, 625})); // 2.5 of 3

        view.OnCommand(Command::ResetPeak);
        channel.OnNewValue(1e-3f);
        image = view.Render();
        // 1 mW is in the 3 mW range: a third of the bar again, its last column under the mark.
        QCOMPARE(ColumnsOf(image, row, kBarFill).size(), 222);
        QCOMPARE(ColumnsOf(image, row, kPeakMark), (QVector<int>{287, 288, 289}));

        // Back to another display: no 50 ms repaints for it any more, nothing of the bar.
        view.OnCommand(Command::RealTimeDisplay);
        QVERIFY(ColumnsOf(view.Render(), row, kBarFill).isEmpty());
    }

    // The display changed behind the menu's back (as the soak does): the pane leaves the 50 ms
    // ticker from within its own tick, with another pane on it; the last one out stops it.
    void panesLeaveTheTuningTickerFromWithinItsTick() {
        CChannel first, second;
        CKelvarinView a(first), b(second);
        const auto ticker = CRepaintTicker::Acquire(CRepaintTicker::kTuningIntervalMs);
        QVERIFY(!ticker->IsRunning());
        a.OnCommand(Command::TuningDisplay);
        b.OnCommand(Command::TuningDisplay);
        QVERIFY(ticker->IsRunning());
        a.m_nDisplayMode = CKelvarinView::RealTime;
        QTest::qWait(3 * CRepaintTicker::kTuningIntervalMs);
        QVERIFY(ticker->IsRunning());
        b.m_nDisplayMode = CKelvarinView::Graphic;
        QTRY_VERIFY(!ticker->IsRunning());
        a.m_nDisplayMode = CKelvarinView::Tuning; // and back, from the 300 ms tick
        QTRY_VERIFY(ticker->IsRunning());
    }

    // Zero, units and reference from the pane's own menu in the window; the head keeps them
    // across a restart of the window, at the position it takes then.
    void aidsFromTheMenuAreKeptForTheHeadAtAnotherPosition() {
        CMeterSimulator source(SteadyProfile("KLV-AIDS", "KV5001", 40, 2e-3));
        CMeterSimulator pickoff(SteadyProfile("KLV-AIDS", "KV5002", 40, 1e-3));
        std::string error;
        QVERIFY(source.Start(error));
        QVERIFY(pickoff.Start(error));
        for (const auto& [serial, position] : {std::pair("KV5001", 0), std::pair("KV5002", 1)}) {
            CChannelConfig stored;
            stored.m_nPosition = position;
            stored.m_fLevelHigh = 1.0f;
            QVERIFY(SaveChannelConfigFile(serial, stored, error));
        }
        qputenv("KELVARIN_PORTS",
                QByteArray::fromStdString(source.PortPath() + ":" + pickoff.PortPath()));
        qputenv("KELVARIN_PORTS_ONLY", "1");
        const std::string record = ReadFile(ConfigFilePath("KV5001"));
        {
            CMainFrame frame;
            frame.show();
            AcceptAutoDetection();
            QTRY_COMPARE_WITH_TIMEOUT(frame.ConnectedCount(), 2, 15000);
            CKelvarinView& view = *frame.GetView(0);
            CChannel& channel = frame.GetChannel(0);
            QTRY_VERIFY(channel.ReadingCount() > 5 && frame.GetChannel(1).ReadingCount() > 5);

            QVERIFY(ChooseFromMenu(view, {"Tuning Display"}));
            QCOMPARE(view.m_nDisplayMode, int(CKelvarinView::Tuning));
            QVERIFY2(!ChooseFromMenu(view, {"Clear Zero"}), "no zero yet");
            QCOMPARE(EntriesOf(view, "Units"), (QStringList{"W*", "dBm", "dB", "%"}));
            // The other position with a meter, not its own, nor one without a meter.
            QCOMPARE(EntriesOf(view, "Reference"),
                     (QStringList{"Current Value", "Position 2", "None*"}));

            QVERIFY(ChooseFromMenu(view, {"Zero"})); // the meter reads 2 mW, steadily
            QCOMPARE(channel.DisplayAids().m_fZero, 2e-3f);
            QTRY_COMPARE(channel.Value(), 0.0f);
            QCOMPARE(view.State().zero, QStringLiteral("Zero: 2.00 mW"));
            QVERIFY(ChooseFromMenu(view, {"Clear Zero"}));
            QVERIFY(view.State().zero.isEmpty());
            QTRY_COMPARE(channel.Value(), 2e-3f);

            QVERIFY(ChooseFromMenu(view, {"Units", "dB"}));
            QVERIFY(ChooseFromMenu(view, {"Reference", "Position 2"}));
            QCOMPARE(EntriesOf(view, "Units"), (QStringList{"W", "dBm", "dB*", "%"}));
            QCOMPARE(EntriesOf(view, "Reference"),
                     (QStringList{"Current Value", "Position 2*", "None"}));
            QCOMPARE(view.ReferenceWatts(channel.DisplayAids()), double(1e-3f));
            QVERIFY(ChooseFromMenu(view, {"Reference", "None"}));
            QCOMPARE(view.ReferenceWatts(channel.DisplayAids()), 0.0);
            for (const auto& [entry, unit] :
                 {std::pair("dBm", DisplayUnit::Dbm), std::pair("%", DisplayUnit::Percent),
                  std::pair("W", DisplayUnit::Watt), std::pair("dB", DisplayUnit::Db)}) {
                QVERIFY(ChooseFromMenu(view, {"Units", entry}));
                QCOMPARE(channel.DisplayAids().m_unit, unit);
            }
            QVERIFY(ChooseFromMenu(view, {"Reference", "Current Value"}));
            QCOMPARE(channel.DisplayAids().m_fReferenceWatts, 2e-3);
            QVERIFY(ChooseFromMenu(view, {"Zero"}));
            QVERIFY(m_messages.isEmpty());
            frame.close();
        }
        QCOMPARE(ReadFile(DisplayAidsFilePath("KV5001")),
                 std::string("zero=0.002\nunit=dB\nreference=0.002\n"));
        QVERIFY2(ReadFile(ConfigFilePath("KV5001")) == record, "the record as it was");

        // The head listed after the other one now, so at the second position: its zero, unit
        // and reference come with it.
        CChannelConfig moved;
        moved.m_nPosition = 2;
        moved.m_fLevelHigh = 1.0f;
        QVERIFY(SaveChannelConfigFile("KV5001", moved, error));
        CMainFrame frame;
        AcceptAutoDetection();
        QTRY_COMPARE_WITH_TIMEOUT(frame.ConnectedCount(), 2, 15000);
        QCOMPARE(QString::fromStdString(frame.GetChannel(1).Config().m_strSerial),
                 QString("KV5001"));
        const CDisplayAids aids = frame.GetChannel(1).DisplayAids();
        QCOMPARE(aids.m_fZero, 2e-3f);
        QCOMPARE(aids.m_unit, DisplayUnit::Db);
        QCOMPARE(aids.m_fReferenceWatts, 2e-3);
        QTRY_VERIFY(frame.GetChannel(1).ReadingCount() > 0);
        QCOMPARE(frame.GetView(1)->State().zero, QStringLiteral("Zero: 2.00 mW"));
        qunsetenv("KELVARIN_PORTS");
        qunsetenv("KELVARIN_PORTS_ONLY");
    }
};

QTEST_MAIN(DisplayAidsPaneTest)
#include "DisplayAidsPaneTest.moc"

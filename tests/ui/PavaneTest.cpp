// The controls library, rendered offscreen and checked pixel by pixel.

#include <QApplication>
#include <QImage>
#include <QScrollBar>
#include <QTest>

#include "WindowTests.h"
#include "controls/CBtnColor.h"
#include "controls/CColorBtn.h"
#include "controls/CHListBox.h"
#include "controls/CListCtrlEx.h"
#include "controls/CTransBtn.h"
#include "controls/CTransText.h"

namespace {
QImage Render(QWidget* w) { return w->grab().toImage(); }
}  // namespace

class PavaneTest : public QObject {
  Q_OBJECT
 private slots:
  void ButtonGradientDarkensFiveAPerRowAndClampsAtBlack() {
    CBtnColor button("OK");
    button.resize(40, 70);
    QImage img = Render(&button);
    QCOMPARE(QColor(img.pixel(0, 30)), QColor(255, 255, 255));  // light left edge
    QCOMPARE(QColor(img.pixel(39, 30)), QColor(0x50, 0x50, 0x50));  // dark right edge
    // Away from the text and the edges the face shows the gradient itself.
    QCOMPARE(QColor(img.pixel(2, 1)), QColor(244, 244, 244));
    QCOMPARE(QColor(img.pixel(2, 10)), QColor(199, 199, 199));
    QCOMPARE(QColor(img.pixel(2, 49)), QColor(4, 4, 4));
    QCOMPARE(QColor(img.pixel(2, 50)), QColor(0, 0, 0));
    QCOMPARE(QColor(img.pixel(2, 68)), QColor(0, 0, 0));
    QCOMPARE(CBtnColor::FaceLevel(60), 0);
  }

  void ColourButtonFillsItsColourAndDrawsNothingWithoutText() {
    QWidget parent;
    parent.resize(100, 40);
    parent.setAutoFillBackground(true);
    QPalette pal = parent.palette();
    pal.setColor(QPalette::Window, QColor(10, 200, 10));
    parent.setPalette(pal);
    CColorBtn button("Go", &parent);
    button.setGeometry(0, 0, 60, 30);
    button.SetBKColor(0x0000FF);  // red in the low byte
    QImage img = Render(&parent);
    QCOMPARE(QColor(img.pixel(2, 2)), QColor(255, 0, 0));
    button.setText("");
    img = Render(&parent);
    QCOMPARE(QColor(img.pixel(2, 2)), QColor(10, 200, 10));
  }

  void ListBoxExtentFollowsWidestLineAndBarGoesWithTheLast() {
    CHListBox box;
    box.resize(80, 100);
    QFontMetrics fm(box.font());
    const QString longLine(60, 'W');
    QCOMPARE(box.InsertString(-1, "short"), 0);
    QCOMPARE(box.InsertString(-1, longLine), 1);
    QCOMPARE(box.HorizontalExtent(), fm.horizontalAdvance(longLine) + 3);
    QCOMPARE(box.InsertString(7, "x"), -1);
    QCOMPARE(box.DeleteString(0), 1);
    QVERIFY(box.HorizontalBarShown());
    QCOMPARE(box.HorizontalExtent(), fm.horizontalAdvance(longLine));
    QCOMPARE(box.DeleteString(0), 0);
    QVERIFY(!box.HorizontalBarShown());
    QCOMPARE(box.DeleteString(0), -1);
    box.InsertString(-1, longLine);
    box.ResetContent();
    QCOMPARE(box.count(), 0);
    QCOMPARE(box.Widest(), 0);
    QCOMPARE(box.HorizontalExtent(), 0);
  }

  void TransparentTextKeepsFirst256Bytes() {
    CTransText text;
    QByteArray longText(300, 'a');
    longText[255] = 'Z';
    longText[256] = 'Y';
    text.SetText(longText);
    QCOMPARE(text.Buffer().size(), 256);
    QCOMPARE(text.Buffer().back(), 'Z');
    text.SetText("abc", 2);
    QCOMPARE(text.Buffer(), QByteArray("ab"));
    QCOMPARE(text.FontColor(), quint32(0xFFFFFF));
  }

  void TransparentButtonDrawsBoxAndCheckOverItsBackground() {
    QWidget parent;
    parent.resize(120, 40);
    parent.setAutoFillBackground(true);
    QPalette pal = parent.palette();
    pal.setColor(QPalette::Window, QColor(30, 30, 90));
    parent.setPalette(pal);
    CTransBtn button("Close", &parent);
    button.setGeometry(5, 5, 100, 20);
    parent.show();
    QVERIFY(QTest::qWaitForWindowExposed(&parent));
    QTRY_VERIFY(button.BackgroundCaptured());
    QImage img = Render(&button);
    QCOMPARE(QColor(img.pixel(1, 1)), QColor(255, 255, 255));    // box corner
    QCOMPARE(QColor(img.pixel(7, 7)), QColor(30, 30, 90));       // inside the empty box: background
    QCOMPARE(QColor(img.pixel(90, 2)), QColor(30, 30, 90));      // captured background
    QVERIFY(!button.GetSelect());
    QTest::mouseClick(&button, Qt::LeftButton, {}, QPoint(5, 5));
    QVERIFY(button.GetSelect());
    img = Render(&button);
    QVERIFY(qGray(img.pixel(6, 11)) > 180);  // on the check mark's strokes
    button.SetCheck(false);
    img = Render(&button);
    QCOMPARE(QColor(img.pixel(1, 1)), QColor(30, 30, 90));
    QTest::mouseClick(&button, Qt::LeftButton, {}, QPoint(5, 5));
    QVERIFY(!button.GetSelect());
  }

  void ListColumnSelectionRefusesColumnsPastTheLast() {
    CListCtrlEx list;
    list.setColumnCount(3);
    list.resize(300, 120);
    auto* row = new QTreeWidgetItem(&list, QStringList{"a", "b", "c"});
    QVERIFY(list.SetColSel(1));
    QCOMPARE(list.GetColSel(), 2);
    QVERIFY(!list.SetColSel(3));
    QCOMPARE(list.GetColSel(), 2);
    QVERIFY(!list.SetColSel(-1));
    // Only the selected column's cell is lit on a highlighted row.
    list.SetShowSelAlways(true);
    list.SetTextBkColor(0xFFFFFF);
    row->setSelected(true);
    list.setColumnWidth(0, 100);
    list.setColumnWidth(1, 100);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    QImage img = list.viewport()->grab().toImage();
    QRect cell0 = list.GetCellRect(0, 0), cell1 = list.GetCellRect(0, 1);
    const QColor highlight = list.palette().color(QPalette::Highlight);
    QCOMPARE(QColor(img.pixel(cell1.left() + 2, cell1.top() + 1)), highlight);
    QCOMPARE(QColor(img.pixel(cell0.left() + 2, cell0.top() + 1)), QColor(255, 255, 255));
    int r = -1, c = -1;
    QVERIFY(list.HitTestRowCol(cell1.center(), &r, &c));
    QCOMPARE(r, 0);
    QCOMPARE(c, 1);
    QCOMPARE(list.GetTrueItemText(0, 2), QString("c"));
    QSignalSpy notified(&list, &CListCtrlEx::Notify);
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, cell0.center());
    QCOMPARE(notified.count(), 1);
    QCOMPARE(notified.first().first().toInt(), CListCtrlEx::kNotifyCode);
  }
};

int RunPavaneTests(int argc, char** argv) {
  PavaneTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "PavaneTest.moc"

#include "ui/qt/dialog_form.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <set>

#include "core/dialog.h"
#include "ui/qt/qt_port.h"

namespace orv {
namespace {

const char* const kControlNames[] = {
    "Label1", "Label2",      "Label3",      "Label4",    "Label5",   "Label6",
    "Edit1",  "RadioGroup1", "RadioGroup2", "ComboBox1", "ListBox1", "CheckListBox1",
    "Memo1",  "StringGrid1", "StringGrid2", "CheckBox1", "Button6",  "Image1"};

// The named controls the dialog shows.
std::set<std::string> Controls(const QDialog& d) {
  std::set<std::string> names;
  for (const char* name : kControlNames)
    if (d.findChild<QWidget*>(name)) names.insert(name);
  return names;
}

void PressEscape(QWidget* w) {
  QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QApplication::sendEvent(w, &press);
}

QRadioButton* Radio(QDialog& d, const char* group, int index) {
  return d.findChild<QGroupBox*>(group)->findChildren<QRadioButton*>().at(index - 1);
}

TEST(GenericDialog, ListAndRadioGroupAnsweredWithOk) {
  DialogRequest r = PrepareDialog("Title", 0, 720, 480);
  ShowListBox(r, 10, 10, 330, 200, {" one ", " two ", " three "});
  ShowRadioGroup(r, 1, 1, 360, 80, 340, 10, {" a.res ", " timed "}, 1, "--title--");
  ShowLabel(r, 1, 400, 110, " NAME ");
  r.image = DialogImage{360, 100, 3, 2, {0xFF00FF, 0x00FFFF, 0x000000, 0x123456, 0xFFFFFF, 0x00FF00}};
  QtPort port;
  std::set<std::string> controls;
  QString caption;
  port.modalHook = [&](QDialog& d) {
    controls = Controls(d);
    // The picture's pixels row by row, under the label placed over it.
    const auto* picture = d.findChild<QLabel*>("Image1");
    const QImage image = picture->pixmap().toImage();
    EXPECT_EQ(image.pixel(0, 0) & 0xFFFFFF, 0xFF00FFu);
    EXPECT_EQ(image.pixel(1, 0) & 0xFFFFFF, 0x00FFFFu);
    EXPECT_EQ(image.pixel(0, 1) & 0xFFFFFF, 0x123456u);
    const QObjectList& children = d.children();
    EXPECT_LT(children.indexOf(picture), children.indexOf(d.findChild<QLabel*>("Label1")));
    caption = d.windowTitle();
    EXPECT_TRUE(Radio(d, "RadioGroup1", 1)->isChecked());
    Radio(d, "RadioGroup1", 2)->setChecked(true);
    d.findChild<QListWidget*>("ListBox1")->setCurrentRow(2);
    d.findChild<QPushButton*>("Button1")->click();  // OK
    return d.result();
  };
  EXPECT_TRUE(port.ShowDialog(r));
  EXPECT_EQ(controls, (std::set<std::string>{"ListBox1", "RadioGroup1", "Label1", "Image1"}));
  EXPECT_EQ(caption, "   Title");
  EXPECT_EQ(std::tuple(r.accepted, r.radio1->chosen, r.listBox->selected), std::tuple(true, 2, 3));
}

TEST(GenericDialog, SmallDialogKeepsItsButtonsAndOneRowCheckListWhole) {
  DialogRequest r = PrepareDialog("Menu", 0, 300, 300);
  ShowCheckList(r, 5, 250, 290, 20, {" Set peak channel number N for normalisation"});
  QtPort port;
  port.modalHook = [&](QDialog& d) {
    for (const char* name : {"Button1", "Button2", "Button3"})
      EXPECT_TRUE(d.rect().contains(d.findChild<QPushButton*>(name)->geometry())) << name;
    const auto* list = d.findChild<QListWidget*>("CheckListBox1");
    EXPECT_GE(list->height(), list->sizeHintForRow(0) + 2 * list->frameWidth());
    d.reject();
    return d.result();
  };
  EXPECT_FALSE(port.ShowDialog(r));
}

TEST(GenericDialog, FieldsAtScaleAndEscapeIsCancel) {
  DialogRequest r = PrepareDialog("Fields", 0, 600, 420, true);
  ShowLabel(r, 1, 20, 30, " Name ", kYellow, kBlue);
  ShowLabel(r, 2, 20, 60, " Kind ");
  ShowEditField(r, 100, 30, "a.ini", 260);
  ShowComboBox(r, 100, 60, 200, {"x", "y", "z"}, 2);
  ShowCheckList(r, 100, 100, 200, 100, {"p", "q"});
  ShowCheckBox(r, "Reverse", false);
  int saves = 0;
  r.onSave = [&](const DialogRequest&) { ++saves; };

  QtPort port;
  port.LayoutWindows(1.25, 10);
  int shows = 0;
  port.modalHook = [&](QDialog& d) {
    ++shows;
    EXPECT_EQ(Controls(d), (std::set<std::string>{"Label1", "Label2", "Edit1", "ComboBox1", "CheckListBox1",
                                                  "CheckBox1", "Button6"}));
    auto* edit = d.findChild<QLineEdit*>("Edit1");
    EXPECT_EQ(edit->geometry(), QRect(125, 38, 325, 25));
    EXPECT_EQ(d.findChild<QComboBox*>("ComboBox1")->currentIndex(), 1);
    d.findChild<QPushButton*>("Button6")->click();  // Save writes once however often it is pressed
    d.findChild<QPushButton*>("Button6")->click();
    edit->setText("changed.ini");
    d.findChild<QCheckBox*>("CheckBox1")->setChecked(true);
    if (shows == 1) {
      PressEscape(d.findChild<QComboBox*>("ComboBox1"));  // Esc reaches the window from a control
    } else {
      d.findChild<QListWidget*>("CheckListBox1")->item(1)->setCheckState(Qt::Checked);
      d.findChild<QComboBox*>("ComboBox1")->setCurrentIndex(2);
      d.findChild<QPushButton*>("Button1")->click();
    }
    return d.result();
  };
  // Cancel leaves the request as it was.
  EXPECT_FALSE(port.ShowDialog(r));
  EXPECT_EQ(std::tuple(r.accepted, r.edit->text, r.checkBox->checked, saves),
            std::tuple(false, "a.ini", false, 1));
  EXPECT_TRUE(port.ShowDialog(r));
  EXPECT_EQ(std::tuple(r.edit->text, r.checkBox->checked, r.combo->chosen, r.checkList->checked),
            std::tuple("changed.ini", true, 3, std::vector<bool>{false, true}));
}

TEST(GenericDialog, GridTextAreaAndHelp) {
  DialogRequest r = PrepareDialog("Grid", 0, 600, 420);
  ShowParameterGrid(r, 10, 10, 2, 10, -2, {"Width", "Step", "Limit"}, {{1, 2.5}, {3, 4}, {5, 6}},
                    {90, 80, 80});
  ShowTextArea(r, 5, 590, {"1 2 3"});
  ShowRadioGroup(r, 2, 2, 300, 100, 200, 200, {"a", "b", "c", "d"}, 4);
  r.helpLines = {"first help line", "second"};

  QtPort port;
  std::vector<std::string> helpShown;
  bool buttonsOffDuringHelp = false;
  QDialog* form = nullptr;
  port.modalHook = [&](QDialog& d) {
    if (d.objectName() == "TForm3") {
      for (const QString& l : d.findChild<QPlainTextEdit*>("Memo1")->toPlainText().split('\n'))
        helpShown.push_back(l.toStdString());
      buttonsOffDuringHelp = !form->findChild<QPushButton*>("Button1")->isEnabled();
      return int(QDialog::Accepted);
    }
    form = &d;
    EXPECT_EQ(Controls(d), (std::set<std::string>{"StringGrid1", "StringGrid2", "Memo1", "RadioGroup2"}));
    auto* names = d.findChild<QTableWidget*>("StringGrid2");
    auto* values = d.findChild<QTableWidget*>("StringGrid1");
    EXPECT_EQ(names->rowCount(), 3);
    EXPECT_EQ(values->columnCount(), 2);
    EXPECT_EQ(values->item(0, 1)->text().toDouble(), 2.5);
    // Four items in two columns: "c" opens the second column.
    auto* group = d.findChild<QGroupBox*>("RadioGroup2");
    group->layout()->activate();
    EXPECT_GT(Radio(d, "RadioGroup2", 3)->x(), Radio(d, "RadioGroup2", 2)->x());
    EXPECT_TRUE(Radio(d, "RadioGroup2", 4)->isChecked());
    d.findChild<QPushButton*>("Button3")->click();  // Help
    EXPECT_TRUE(d.findChild<QPushButton*>("Button1")->isEnabled());
    values->item(1, 0)->setText("7.5");
    d.findChild<QPlainTextEdit*>("Memo1")->setPlainText("3 1 2\nsecond");
    Radio(d, "RadioGroup2", 1)->setChecked(true);
    d.findChild<QPushButton*>("Button1")->click();
    return d.result();
  };
  EXPECT_TRUE(port.ShowDialog(r));
  EXPECT_TRUE(helpShown == r.helpLines && buttonsOffDuringHelp);
  EXPECT_EQ(std::tuple(r.grid->cells[1][0], r.textArea->lines, r.radio2->chosen),
            std::tuple("7.5", std::vector<std::string>{"3 1 2", "second"}, 1));
}

TEST(PortWindows, MessageBoxesAnswerWithTheButtonPressed) {
  QtPort port;
  std::vector<QString> texts;
  QMessageBox::StandardButton press = QMessageBox::Yes;
  port.modalHook = [&](QDialog& d) {
    auto& box = dynamic_cast<QMessageBox&>(d);
    texts.push_back(box.text());
    if (QAbstractButton* b = box.button(press)) b->click();
    return box.result();
  };
  EXPECT_TRUE(port.AskYesNo("Results not saved. Quit?"));
  press = QMessageBox::No;
  EXPECT_FALSE(port.AskYesNo("Reverse the colors?"));
  press = QMessageBox::Cancel;
  EXPECT_FALSE(port.AskOkCancel("Previous fit results not saved"));
  press = QMessageBox::Ok;
  EXPECT_TRUE(port.AskOkCancel("Previous fit results not saved"));
  port.ShowMessage("No file x.dat");
  EXPECT_EQ(texts.front(), "Results not saved. Quit?");
}

TEST(PortWindows, FileFiltersInTheToolkitsForm) {
  EXPECT_EQ(ToNameFilters("All|*.*;|D(*.dat)|*.dat;|SPC(*.spc)|*.spc;|Ini(*.ini)|*.ini"),
            "All (*);;D (*.dat);;SPC (*.spc);;Ini (*.ini)");
  EXPECT_EQ(ToNameFilters(""), "");
}

}  // namespace
}  // namespace orv

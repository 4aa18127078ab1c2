#include "ui/qt/dialog_form.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStyle>
#include <QTableWidget>
#include <algorithm>
#include <cmath>

namespace orv {

namespace {

constexpr int kRowHeight = 21;
// Room a grid cell needs around its text: the style's margins and the grid line.
constexpr int kCellPadding = 14;

QString Q(const std::string& s) {
  return QString::fromStdString(s);
}

QString Css(Rgb c) {
  return QString("rgb(%1,%2,%3)").arg(c.red).arg(c.green).arg(c.blue);
}

QString Colours(const char* type, Rgb text, Rgb background) {
  return QString("%1 { color: %2; background-color: %3; }").arg(type, Css(text), Css(background));
}

constexpr Rgb kLightCyan{0, 255, 255};
constexpr Rgb kGreen{0, 128, 0};
constexpr Rgb kRed{255, 0, 0};
constexpr Rgb kDarkCyan{0, 128, 128};

void PaintBackground(QWidget* w, Rgb c) {
  QPalette pal = w->palette();
  pal.setColor(QPalette::Window, QColor(c.red, c.green, c.blue));
  w->setPalette(pal);
  w->setAutoFillBackground(true);
}

QFont BoldFont(QFont f) {
  f.setBold(true);
  return f;
}

// Listings, reports and column headers are laid out with blanks, so they need a fixed pitch to line up.
QFont FixedFont(const QFont& like) {
  QFont f = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  f.setPointSize(like.pointSize());
  return f;
}

// A label whose words are spaced by runs of blanks is a column header over a listing.
bool IsColumnHeader(const std::string& text) {
  const auto first = text.find_first_not_of(' ');
  const auto last = text.find_last_not_of(' ');
  return first != std::string::npos && text.substr(first, last - first + 1).find("  ") != std::string::npos;
}

// A memo's lines; an empty memo has none.
std::vector<std::string> MemoLines(const QPlainTextEdit* memo) {
  std::vector<std::string> lines;
  const QString text = memo->toPlainText();
  if (text.isEmpty()) return lines;
  for (const QString& line : text.split('\n')) lines.push_back(line.toStdString());
  return lines;
}

// Long texts in a narrow design column: the widget's font shrinks until the widest one fits, rather
// than the texts being cut.
void FitFont(QWidget* w, const std::vector<std::string>& texts, int available) {
  QFont f = w->font();
  for (int size = f.pointSize(); size >= 6; --size) {
    f.setPointSize(size);
    const QFontMetrics metrics(f);
    int widest = 0;
    for (const auto& t : texts) widest = std::max(widest, metrics.horizontalAdvance(Q(t)));
    if (widest <= available) break;
  }
  w->setFont(f);
}

}  // namespace

int Scaled(int designPixels, double scale) {
  return static_cast<int>(std::lround(designPixels * scale));
}

TForm2::TForm2(DialogRequest& request, double scale, int fontSize,
               std::function<void(const std::vector<std::string>&)> showHelp, QWidget* parent)
    : QDialog(parent), request_(request), scale_(scale), showHelp_(std::move(showHelp)) {
  setObjectName("TForm2");
  setWindowTitle(Q("   " + request.caption));
  QFont f = font();
  f.setPointSize(fontSize);
  setFont(f);
  PaintBackground(this, kGreen);
  setFixedSize(Scaled(request.width, scale), Scaled(request.height, scale));
  move(Scaled(request.left, scale), Scaled(20, scale));

  // The button row: OK in the middle (further left to make room for Save), Cancel and Help beside it.
  const int okLeft = request.width / 2 - 90 - (request.withSave ? 30 : 0);
  // Small dialogs (the change menu) keep the row inside the window.
  const int buttonTop = std::min(375, request.height - 28);
  auto button = [&](const char* name, const char* text, int left) {
    auto* b = new QPushButton(text, this);
    b->setObjectName(name);
    b->setAutoDefault(false);
    Place(b, left, buttonTop, 60, 20);
    return b;
  };
  ok_ = button("Button1", "OK", okLeft);
  cancel_ = button("Button2", "Cancel", okLeft + 62);
  help_ = button("Button3", "Help", okLeft + 124);
  ok_->setDefault(true);
  connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
  connect(help_, &QPushButton::clicked, this, [this] { Help(); });
  if (request.withSave) {
    save_ = button("Button6", "Save", okLeft + 185);
    connect(save_, &QPushButton::clicked, this, [this] { Save(); });
  }

  // The picture first, so that labels placed over it stay on top.
  if (request.image && request.image->width > 0 && request.image->height > 0) {
    const DialogImage& im = *request.image;
    QImage image(im.width, im.height, QImage::Format_RGB32);
    for (int y = 0; y < im.height; ++y)
      for (int x = 0; x < im.width; ++x) {
        const std::size_t i = static_cast<std::size_t>(y) * im.width + x;
        image.setPixel(x, y, 0xFF000000u | (i < im.pixels.size() ? im.pixels[i] : 0u));
      }
    auto* picture = new QLabel(this);
    picture->setObjectName("Image1");
    picture->setScaledContents(true);
    picture->setPixmap(QPixmap::fromImage(image));
    Place(picture, im.left, im.top, im.width, im.height);
  }
  for (const DialogLabel& l : request.labels) {
    auto* label = new QLabel(Q(l.text), this);
    label->setObjectName(QString("Label%1").arg(l.index));
    label->setFont(BoldFont(IsColumnHeader(l.text) ? FixedFont(font()) : font()));
    label->setStyleSheet(Colours("QLabel", l.textColor, l.background));
    label->move(Scaled(l.left, scale), Scaled(l.top, scale));
    label->adjustSize();
  }
  if (request.edit) {
    edit_ = new QLineEdit(Q(request.edit->text), this);
    edit_->setObjectName("Edit1");
    Place(edit_, request.edit->left, request.edit->top, request.edit->width, 20);
  }
  if (request.radio1) BuildRadioGroup(*request.radio1, 1);
  if (request.radio2) BuildRadioGroup(*request.radio2, 2);
  if (request.checkList) {
    const DialogCheckList& c = *request.checkList;
    checkList_ = new QListWidget(this);
    checkList_->setObjectName("CheckListBox1");
    checkList_->setStyleSheet(Colours("QListWidget", kBlack, kYellow));
    for (std::size_t i = 0; i < c.items.size(); ++i) {
      auto* item = new QListWidgetItem(Q(c.items[i]), checkList_);
      item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable | Qt::ItemIsSelectable);
      item->setCheckState(i < c.checked.size() && c.checked[i] ? Qt::Checked : Qt::Unchecked);
    }
    Place(checkList_, c.left, c.top, c.width, c.height);
    FitFont(checkList_, c.items, checkList_->width() - 30);
    // A one-row list must show its row whole.
    const int rowsHeight = checkList_->sizeHintForRow(0) + 2 * checkList_->frameWidth() + 2;
    if (checkList_->height() < rowsHeight) checkList_->resize(checkList_->width(), rowsHeight);
  }
  if (request.combo) {
    const DialogComboBox& c = *request.combo;
    combo_ = new QComboBox(this);
    combo_->setObjectName("ComboBox1");
    for (const auto& item : c.items) combo_->addItem(Q(item));
    combo_->setMaxVisibleItems(std::max(1, std::min<int>(8, static_cast<int>(c.items.size()))));
    combo_->setCurrentIndex(c.chosen - 1);
    Place(combo_, c.left, c.top, c.width, 22);
  }
  if (request.listBox) {
    const DialogListBox& l = *request.listBox;
    listBox_ = new QListWidget(this);
    listBox_->setObjectName("ListBox1");
    listBox_->setStyleSheet(Colours("QListWidget", kLightCyan, kBlack));
    listBox_->setFont(FixedFont(font()));
    for (const auto& line : l.lines) listBox_->addItem(Q(line));
    if (l.selected >= 1 && l.selected <= listBox_->count()) listBox_->setCurrentRow(l.selected - 1);
    Place(listBox_, l.left, l.top, l.width, l.height);
    if (!l.header.empty()) {
      // Columns under a header must be seen whole: the font shrinks until the widest line fits
      // beside the scroll bar. Other lists scroll sideways instead.
      std::vector<std::string> texts = l.lines;
      texts.push_back(l.header);
      const int room = listBox_->width() - 2 * listBox_->frameWidth() -
                       listBox_->style()->pixelMetric(QStyle::PM_ScrollBarExtent) - 12;
      FitFont(listBox_, texts, room);
      listBox_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
      // The header is a list of one line in the same font and frame, so that its captions stand
      // exactly over the columns below; it stays while the lines scroll.
      header_ = new QListWidget(this);
      header_->setObjectName("ListHeader");
      header_->setStyleSheet(Colours("QListWidget", kWhite, kGreen));
      header_->setFont(listBox_->font());
      header_->addItem(Q(l.header));
      header_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
      header_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
      header_->setSelectionMode(QAbstractItemView::NoSelection);
      header_->setFocusPolicy(Qt::NoFocus);
      const int headerHeight = header_->sizeHintForRow(0) + 2 * header_->frameWidth() + 2;
      const QRect list = listBox_->geometry();
      header_->setGeometry(list.left(), list.top(), list.width(), headerHeight);
      listBox_->setGeometry(list.left(), list.top() + headerHeight, list.width(),
                            list.height() - headerHeight);
    }
  }
  if (request.textArea) {
    const DialogTextArea& t = *request.textArea;
    memo_ = new QPlainTextEdit(this);
    memo_->setObjectName("Memo1");
    memo_->setStyleSheet(Colours("QPlainTextEdit", kLightCyan, kBlack));
    memo_->setFont(FixedFont(font()));
    QStringList lines;
    for (const auto& line : t.lines) lines << Q(line);
    memo_->setPlainText(lines.join('\n'));
    // A listing keeps one item per line; what does not fit scrolls instead of wrapping.
    memo_->setLineWrapMode(QPlainTextEdit::NoWrap);
    Place(memo_, t.left, t.top, t.width, t.height);
  }
  if (request.grid) BuildGrid(*request.grid);
  if (request.checkBox) {
    checkBox_ = new QCheckBox(Q(request.checkBox->caption), this);
    checkBox_->setObjectName("CheckBox1");
    checkBox_->setChecked(request.checkBox->checked);
    checkBox_->move(Scaled(10, scale), Scaled(350, scale));
    checkBox_->adjustSize();
  }

  installEventFilter(this);
  for (QWidget* w : findChildren<QWidget*>()) w->installEventFilter(this);
}

void TForm2::Place(QWidget* w, int left, int top, int width, int height) const {
  w->setGeometry(Scaled(left, scale_), Scaled(top, scale_), Scaled(width, scale_), Scaled(height, scale_));
}

void TForm2::BuildRadioGroup(const DialogRadioGroup& g, int which) {
  auto* box = new QGroupBox(Q(g.title), this);
  box->setObjectName(QString("RadioGroup%1").arg(which));
  PaintBackground(box, which == 1 ? kRed : kDarkCyan);
  auto* layout = new QGridLayout(box);
  layout->setContentsMargins(4, 2, 4, 2);
  layout->setSpacing(0);
  auto* group = new QButtonGroup(box);
  // Items fill the columns one after another, top to bottom.
  const int n = static_cast<int>(g.items.size());
  const int columns = std::max(1, g.columns);
  const int perColumn = std::max(1, (n + columns - 1) / columns);
  for (int i = 0; i < n; ++i) {
    auto* b = new QRadioButton(Q(g.items[i]), box);
    group->addButton(b, i + 1);
    layout->addWidget(b, i % perColumn, i / perColumn);
    if (i + 1 == g.chosen) b->setChecked(true);
  }
  Place(box, g.left, g.top, g.width, g.height);
  radio_[which - 1] = group;
}

void TForm2::BuildGrid(const DialogParameterGrid& g) {
  const int rows = static_cast<int>(std::max(g.rowNames.size(), g.cells.size()));
  int columns = std::clamp(std::abs(g.columns), 1, 10);
  for (const auto& row : g.cells) columns = std::max(columns, static_cast<int>(row.size()));
  const int shown = std::min(rows, std::max(1, g.visibleRows));
  // Whole rows at every scale: the height is counted in rows as they are drawn.
  const int rowHeight = Scaled(kRowHeight, scale_);
  const int gridHeight = shown * rowHeight + 1;
  auto widthOf = [&](std::size_t i) { return i < g.columnWidths.size() ? g.columnWidths[i] : 80; };
  const QFont bold = BoldFont(font());
  const QFontMetrics metrics(bold);
  // A column is as wide as its design asks, or wider where a text needs it: a value must be read
  // whole without editing it.
  auto columnWidth = [&](std::size_t designWidth, const std::vector<QString>& texts) {
    int widest = 0;
    for (const QString& t : texts) widest = std::max(widest, metrics.horizontalAdvance(t));
    return std::max(Scaled(static_cast<int>(designWidth), scale_), widest + kCellPadding);
  };
  auto setUp = [&](QTableWidget* t, int nColumns) {
    t->setRowCount(rows);
    t->setColumnCount(nColumns);
    t->horizontalHeader()->hide();
    t->verticalHeader()->hide();
    t->verticalHeader()->setMinimumSectionSize(1);
    t->verticalHeader()->setDefaultSectionSize(rowHeight);
    t->setFont(bold);
    t->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    t->setWordWrap(false);
  };

  auto* names = new QTableWidget(this);
  names->setObjectName("StringGrid2");
  setUp(names, 1);
  names->setStyleSheet(Colours("QTableWidget", kWhite, kMaroon));
  std::vector<QString> nameTexts;
  for (int r = 0; r < rows; ++r)
    nameTexts.push_back(r < static_cast<int>(g.rowNames.size()) ? Q(g.rowNames[r]) : "");
  const int nameWidth = columnWidth(widthOf(0), nameTexts);
  names->setColumnWidth(0, nameWidth);
  names->setEditTriggers(QAbstractItemView::NoEditTriggers);
  names->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  for (int r = 0; r < rows; ++r) names->setItem(r, 0, new QTableWidgetItem(nameTexts[r]));
  const int left = Scaled(g.left, scale_), top = Scaled(g.top, scale_);
  names->ensurePolished();  // the frame of the style sheet is known after polishing
  names->setGeometry(left, top, nameWidth + 2 * names->frameWidth(), gridHeight + 2 * names->frameWidth());

  valueGrid_ = new QTableWidget(this);
  valueGrid_->setObjectName("StringGrid1");
  setUp(valueGrid_, columns);
  valueGrid_->setFrameShape(QFrame::NoFrame);
  int valueWidth = 2;
  for (int c = 0; c < columns; ++c) {
    std::vector<QString> texts;
    for (const auto& row : g.cells)
      if (c < static_cast<int>(row.size())) texts.push_back(Q(row[c]));
    const int w = columnWidth(widthOf(c + 1), texts);
    valueGrid_->setColumnWidth(c, w);
    valueWidth += w;
  }
  if (rows > shown) valueWidth += valueGrid_->style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 4;
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < columns; ++c) {
      const bool present = r < static_cast<int>(g.cells.size()) && c < static_cast<int>(g.cells[r].size());
      valueGrid_->setItem(r, c, new QTableWidgetItem(present ? Q(g.cells[r][c]) : ""));
    }
  // The two grids scroll together.
  connect(valueGrid_->verticalScrollBar(), &QScrollBar::valueChanged, names->verticalScrollBar(),
          &QScrollBar::setValue);
  const QRect valueRect(names->geometry().right() + 1 + Scaled(2, scale_),
                        top + Scaled(g.columns < 0 ? 20 : 0, scale_), valueWidth, gridHeight);
  valueGrid_->setGeometry(valueRect);
  // Wide values widen the window rather than being cut at its edge.
  const int needed = valueRect.right() + 1 + Scaled(10, scale_);
  if (needed > width()) setFixedSize(needed, height());
}

void TForm2::Help() {
  if (!showHelp_) return;
  for (QPushButton* b : {ok_, cancel_, help_}) b->setEnabled(false);
  std::vector<std::string> lines = request_.helpLines;
  if (lines.size() > 100) lines.resize(100);
  showHelp_(lines);
  for (QPushButton* b : {ok_, cancel_, help_}) b->setEnabled(true);
}

void TForm2::Save() {
  if (saved_) return;
  saved_ = true;
  if (request_.onSave) request_.onSave(request_);
}

bool TForm2::eventFilter(QObject* watched, QEvent* event) {
  if ((event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride) &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
    if (event->type() == QEvent::KeyPress) reject();
    event->accept();
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

void TForm2::CopyAnswers(DialogRequest& r) const {
  if (edit_ && r.edit) r.edit->text = edit_->text().toStdString();
  for (int i = 0; i < 2; ++i) {
    auto& group = i == 0 ? r.radio1 : r.radio2;
    if (radio_[i] && group && radio_[i]->checkedId() > 0) group->chosen = radio_[i]->checkedId();
  }
  if (checkList_ && r.checkList) {
    r.checkList->checked.assign(r.checkList->items.size(), false);
    for (int i = 0; i < checkList_->count() && i < static_cast<int>(r.checkList->items.size()); ++i)
      r.checkList->checked[i] = checkList_->item(i)->checkState() == Qt::Checked;
  }
  if (combo_ && r.combo && combo_->currentIndex() >= 0) r.combo->chosen = combo_->currentIndex() + 1;
  if (listBox_ && r.listBox) {
    const auto selected = listBox_->selectedItems();
    r.listBox->selected = selected.isEmpty() ? 0 : listBox_->row(selected.front()) + 1;
  }
  if (memo_ && r.textArea) r.textArea->lines = MemoLines(memo_);
  if (valueGrid_ && r.grid)
    for (std::size_t row = 0; row < r.grid->cells.size(); ++row)
      for (std::size_t c = 0; c < r.grid->cells[row].size(); ++c)
        if (const QTableWidgetItem* item = valueGrid_->item(static_cast<int>(row), static_cast<int>(c)))
          r.grid->cells[row][c] = item->text().toStdString();
  if (checkBox_ && r.checkBox) r.checkBox->checked = checkBox_->isChecked();
}

TForm3::TForm3(const std::vector<std::string>& lines, double scale, int fontSize, QWidget* parent, int left,
               int width, int height)
    : QDialog(parent) {
  setObjectName("TForm3");
  QFont f = font();
  f.setPointSize(fontSize);
  setFont(f);
  PaintBackground(this, kGreen);
  setFixedSize(Scaled(width, scale), Scaled(height, scale));
  move(Scaled(left, scale), 0);
  memo_ = new QPlainTextEdit(this);
  memo_->setObjectName("Memo1");
  memo_->setReadOnly(true);
  memo_->setFont(BoldFont(FixedFont(font())));
  memo_->setStyleSheet(Colours("QPlainTextEdit", kLightCyan, kBlack));
  memo_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  memo_->setGeometry(Scaled(left, scale), Scaled(2, scale), Scaled(width - 10, scale), Scaled(360, scale));
  for (const auto& line : lines) memo_->appendPlainText(Q(line));
  memo_->moveCursor(QTextCursor::Start);
  ok_ = new QPushButton("OK", this);
  ok_->setObjectName("Button1");
  ok_->setDefault(true);
  ok_->setGeometry(Scaled(200, scale), Scaled(390, scale), Scaled(80, scale), Scaled(20, scale));
  connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace orv

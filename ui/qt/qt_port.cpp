#include "ui/qt/qt_port.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

#include "ui/program.h"
#include "ui/qt/dialog_form.h"
#include "ui/qt/main_window.h"

namespace orv {

namespace {

QString Q(const std::string& s) {
  return QString::fromStdString(s);
}

}  // namespace

std::string ToNameFilters(const std::string& filter) {
  const QStringList parts = Q(filter).split('|');
  QStringList filters;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    QStringList patterns;
    for (const QString& p : parts[i + 1].split(';', Qt::SkipEmptyParts))
      patterns << (p.trimmed() == "*.*" ? QString("*") : p.trimmed());
    if (patterns.isEmpty()) continue;
    QString name = parts[i].trimmed();
    // A description that names its pattern already, "D(*.dat)", keeps only the name.
    if (int open = name.indexOf('('); open > 0) name = name.left(open).trimmed();
    filters << QString("%1 (%2)").arg(name, patterns.join(' '));
  }
  return filters.join(";;").toStdString();
}

int QtPort::Exec(QDialog& window) {
  // What a command drew before asking (the curves of the smoothing loop, a fitted interval) is shown
  // behind the question.
  if (main_) main_->Refresh();
  return modalHook ? modalHook(window) : window.exec();
}

QWidget* QtPort::Parent() const {
  return main_;
}

bool QtPort::ShowDialog(DialogRequest& request) {
  TForm2 form(
      request, scale_, fontSize_, [this](const std::vector<std::string>& lines) { ShowText(lines); },
      Parent());
  request.accepted = Exec(form) == QDialog::Accepted;
  if (request.accepted) form.CopyAnswers(request);
  return request.accepted;
}

void QtPort::ShowMessage(const std::string& text) {
  QMessageBox box(QMessageBox::Information, Q(kBanner), Q(text), QMessageBox::Ok, Parent());
  box.move(Scaled(320, scale_), Scaled(320, scale_));
  Exec(box);
}

bool QtPort::AskYesNo(const std::string& question) {
  QMessageBox box(QMessageBox::Warning, Q(kBanner), Q(question), QMessageBox::Yes | QMessageBox::No,
                  Parent());
  Exec(box);
  return box.clickedButton() == box.button(QMessageBox::Yes);
}

bool QtPort::AskOkCancel(const std::string& question) {
  QMessageBox box(QMessageBox::Question, Q(kBanner), Q(question), QMessageBox::Ok | QMessageBox::Cancel,
                  Parent());
  Exec(box);
  return box.clickedButton() == box.button(QMessageBox::Ok);
}

void QtPort::ShowStatus(const std::string& line1, const std::string& line2) {
  if (main_) main_->ShowStatus(line1, line2);
}

void QtPort::ShowPrompt(const std::string& text) {
  if (main_) main_->ShowPrompt(text);
}

std::optional<std::vector<std::string>> QtPort::ChooseFiles(const FileOpenRequest& request, bool multiple) {
  QFileDialog dialog(Parent(), Q(request.title), Q(request.folder));
  dialog.setFileMode(multiple ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  if (const std::string filters = ToNameFilters(request.filter); !filters.empty())
    dialog.setNameFilters(Q(filters).split(";;"));
  if (!request.initialName.empty()) dialog.selectFile(Q(request.initialName));
  if (Exec(dialog) != QDialog::Accepted) return std::nullopt;
  std::vector<std::string> names;
  for (const QString& name : dialog.selectedFiles()) names.push_back(name.toStdString());
  if (names.empty()) return std::nullopt;
  return names;
}

std::optional<std::string> QtPort::ChooseFileToOpen(const FileOpenRequest& request) {
  auto names = ChooseFiles(request, false);
  if (!names) return std::nullopt;
  return names->front();
}

std::optional<std::vector<std::string>> QtPort::ChooseFilesToOpen(const FileOpenRequest& request) {
  return ChooseFiles(request, true);
}

void QtPort::ShowText(const std::vector<std::string>& lines) {
  TForm3 window(lines, scale_, fontSize_, Parent());
  Exec(window);
}

void QtPort::ShowProgress(const std::string& what, int done, int total) {
  if (main_) main_->ShowProgress(what, done, total);
}

void QtPort::EnableMainMenu(bool on) {
  if (main_) main_->EnableMainMenu(on);
}

void QtPort::ClearForm() {
  if (main_) main_->ClearForm();
}

void QtPort::LayoutWindows(double screenScale, int fontSize) {
  scale_ = screenScale;
  fontSize_ = fontSize;
  if (main_) main_->LayoutWindows(screenScale, fontSize);
}

}  // namespace orv

// orvant: the desktop program. One main window over the Program; every question goes through the Qt
// back-end of the UI port. Cancel in the title dialog ends the program before anything is written.
#include <QApplication>
#include <filesystem>

#include "analysis/workspace.h"
#include "graphics/graphs.h"
#include "graphics/qt/qt_canvas.h"
#include "ui/program.h"
#include "ui/qt/main_window.h"
#include "ui/qt/qt_port.h"

int main(int argc, char** argv) {
  using namespace orv;
  QApplication app(argc, argv);
  app.setApplicationName("orvant");

  QtCanvas surface(600, 424);
  QtCanvas fitSurface(kFitSurfaceWidth, kFitSurfaceHeight);
  Workspace ws(std::filesystem::current_path().string());
  ResetAnalysisState(ws);

  QtPort port;
  Program program(ws, port);
  program.graphSurface = &surface;
  program.fitSurface = &fitSurface;
  TForm1 window(program);
  port.SetMainWindow(&window);

  if (!ProgramEntry(program)) return 0;
  window.Refresh();
  window.show();
  // The last window closes after "&Exit" or a confirmed close, and the loop ends with it.
  const int rc = app.exec();
  if (!program.ended) ExitCommand(program, false);
  return rc;
}

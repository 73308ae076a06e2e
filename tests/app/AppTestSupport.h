#pragma once

// Helpers shared by the program's tests: one QApplication per test binary, a temporary
// per-user store, recorded message boxes and synthetic frames fed through the frame handler.

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/MainDialog.h"
#include "app/MessageBoxes.h"
#include "image/Bitmap.h"

class QAction;
class QFileDialog;
class QMenu;
class QMenuBar;
class QPoint;
class QWidget;

namespace pavrel {

class TMainDialog;

namespace test {

// Colours of the synthetic frames (blue, green, red).
inline constexpr TRGBTriple kSkin{150, 172, 224};
inline constexpr TRGBTriple kBackground{160, 90, 40};

// A 160 x 120 24-bit frame of the background colour with a skin rectangle
// (Left, Top, Right, Bottom; right and bottom exclusive).
TBitmap MakeFrame(int Left, int Top, int Right, int Bottom, TRGBTriple Skin = kSkin,
                  TRGBTriple Background = kBackground);

// Count frames at 30 a second of a skin block drifting right over a blue background, one
// pixel every second frame (four seconds take it from x = 30 to x = 90).
void WriteMovingBlockClip(const std::string& FileName, int Count);

// Every message box the window would have shown.
class TRecordedMessages {
 public:
  TMessageSink Sink();
  struct TEntry {
    TMessageKind Kind;
    QString Text;
    bool Owned;
  };

  std::vector<TEntry> Entries() const;
  std::size_t Count() const;

 private:
  mutable std::mutex FMutex;
  std::vector<TEntry> FEntries;
};

// Window options for offscreen tests: boxes go to Messages, pointer actions to a recording
// desktop instead of the X server.
TMainDialogOptions RecordingOptions(TRecordedMessages& Messages);

// Points the per-user store at a fresh temporary folder (XDG_CONFIG_HOME) for the test's
// life, so that no test reads or writes the real one.
class TTemporaryStore {
 public:
  TTemporaryStore();
  ~TTemporaryStore();
  QString Folder() const { return FDir.path(); }

 private:
  QTemporaryDir FDir;
  QByteArray FOld;
  bool FHadOld = false;
};

// Runs the main window's frame handler on a thread of its own, as the video's streaming
// thread does, with the pipeline grabbing Frame; then delivers the queued UI updates. Every
// call starts a fresh thread, as a later video run may hand its frames to another thread.
void FeedFrames(TMainDialog& Window, const TBitmap& Frame, int Count);
// Delivers pending queued calls (label, repaint, boxes) on the UI thread.
void DeliverQueuedCalls();

// Waits, processing events, until Condition holds or TimeoutMs passes; answers Condition().
bool WaitFor(const std::function<bool()>& Condition, int TimeoutMs);

// What a file dialog looked like when it came up, and whether it came up at all.
struct TDialogVisit {
  bool Seen = false;
  QStringList NameFilters;
  QString DefaultSuffix;
  QString ShownFileName;  // the file name box's text when the dialog opened
  bool AcceptSave = false;
};

// Answers the next showing of Dialog as a user would: types FileName into its file name box
// and presses Enter, or presses Escape when FileName is empty. Arm it before the command.
std::shared_ptr<TDialogVisit> AnswerFileDialog(QFileDialog* Dialog, const QString& FileName);

// Opens Top in the menu bar and clicks Item in it, as a user does with the mouse. Returns
// when the click has been handled (after a modal dialog the item opens has closed).
void ClickMenuItem(QMenuBar* Bar, QMenu* Top, QAction* Item);

// The shared test media folder (PAVREL_MEDIA_DIR).
std::string MediaDir();

}  // namespace test
}  // namespace pavrel

#include "AppTestSupport.h"

#include "ClipWriter.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <thread>

#include "app/MainDialog.h"
#include "mouse/RecordingDesktop.h"

namespace pavrel::test {

TBitmap MakeFrame(int Left, int Top, int Right, int Bottom, TRGBTriple Skin,
                  TRGBTriple Background) {
  TBitmap frame(160, 120, TPixelFormat::pf24bit);
  for (int row = 0; row < 120; ++row) {
    TRGBTriple* pixels = frame.Row24(row);
    for (int column = 0; column < 160; ++column) {
      const bool skin = column >= Left && column < Right && row >= Top && row < Bottom;
      pixels[column] = skin ? Skin : Background;
    }
  }
  return frame;
}

void WriteMovingBlockClip(const std::string& FileName, int Count) {
  WriteClip(FileName, Count, 30, [](int Index) {
    const int left = 30 + Index / 2;
    return MakeFrame(left, 40, left + 24, 80);
  });
}

TMessageSink TRecordedMessages::Sink() {
  return [this](TMessageKind Kind, const QString& Text, QWidget* Owner) {
    std::scoped_lock lock(FMutex);
    FEntries.push_back({Kind, Text, Owner != nullptr});
  };
}

std::vector<TRecordedMessages::TEntry> TRecordedMessages::Entries() const {
  std::scoped_lock lock(FMutex);
  return FEntries;
}

std::size_t TRecordedMessages::Count() const {
  std::scoped_lock lock(FMutex);
  return FEntries.size();
}

TTemporaryStore::TTemporaryStore() {
  const char* old = std::getenv("XDG_CONFIG_HOME");
  FHadOld = old != nullptr;
  if (FHadOld) {
    FOld = old;
  }
  ::setenv("XDG_CONFIG_HOME", FDir.path().toLocal8Bit().constData(), 1);
}

TTemporaryStore::~TTemporaryStore() {
  if (FHadOld) {
    ::setenv("XDG_CONFIG_HOME", FOld.constData(), 1);
  } else {
    ::unsetenv("XDG_CONFIG_HOME");
  }
}

TMainDialogOptions RecordingOptions(TRecordedMessages& Messages) {
  TMainDialogOptions options;
  options.MessageSink = Messages.Sink();
  options.CreateDesktop = [] { return std::make_unique<TRecordingDesktop>(); };
  return options;
}

void FeedFrames(TMainDialog& Window, const TBitmap& Frame, int Count) {
  Window.Pipeline().SetGrab([&Frame](TBitmap& Bitmap) {
    Bitmap.Assign(Frame);
    return true;
  });
  std::thread streaming([&Window, Count] {
    for (int i = 0; i < Count; ++i) {
      Window.TheSampleGrabberBuffer();
    }
  });
  streaming.join();
  DeliverQueuedCalls();
}

void DeliverQueuedCalls() {
  QCoreApplication::sendPostedEvents();
  QCoreApplication::processEvents();
}

bool WaitFor(const std::function<bool()>& Condition, int TimeoutMs) {
  QElapsedTimer timer;
  timer.start();
  while (!Condition()) {
    if (timer.elapsed() > TimeoutMs) {
      return Condition();
    }
    QTest::qWait(10);
  }
  return true;
}

std::shared_ptr<TDialogVisit> AnswerFileDialog(QFileDialog* Dialog, const QString& FileName) {
  auto visit = std::make_shared<TDialogVisit>();
  auto* poll = new QTimer(Dialog);
  poll->setInterval(10);
  // This visit ends with this showing; the next command arms a new one.
  QObject::connect(Dialog, &QDialog::finished, poll, [poll] {
    poll->stop();
    poll->deleteLater();
  });
  auto answered = std::make_shared<QElapsedTimer>();
  QObject::connect(poll, &QTimer::timeout, Dialog, [Dialog, FileName, visit, answered] {
    if (!Dialog->isVisible()) {
      return;
    }
    auto* edit = Dialog->findChild<QLineEdit*>("fileNameEdit");
    if (!visit->Seen) {
      visit->Seen = true;
      visit->NameFilters = Dialog->nameFilters();
      visit->DefaultSuffix = Dialog->defaultSuffix();
      visit->AcceptSave = Dialog->acceptMode() == QFileDialog::AcceptSave;
      visit->ShownFileName = edit != nullptr ? edit->text() : QString();
    } else if (answered->elapsed() < 1000 || QApplication::activeModalWidget() != Dialog) {
      // Answered and waiting, or a box of the dialog's own (an overwrite question) is up.
      return;
    }
    // Still open a second after the answer: on a loaded machine the name box's completer can
    // pop up and take the key. Close it and answer again.
    if (QWidget* popup = QApplication::activePopupWidget()) {
      popup->close();
    }
    answered->start();
    if (FileName.isEmpty() || edit == nullptr) {
      QTest::keyClick(Dialog, Qt::Key_Escape);
      return;
    }
    // The name goes in whole: typed key by key, the box's completer pops up on a real screen
    // and takes the keys.
    edit->setFocus();
    edit->setText(FileName);
    QTest::keyClick(edit, Qt::Key_Return);
  });
  poll->start();
  return visit;
}

void ClickMenuItem(QMenuBar* Bar, QMenu* Top, QAction* Item) {
  QTest::mouseClick(Bar, Qt::LeftButton, {}, Bar->actionGeometry(Top->menuAction()).center());
  if (!WaitFor([Top] { return Top->isVisible(); }, 5000)) {
    ADD_FAILURE() << "menu " << Top->title().toStdString() << " did not open";
    return;
  }
  QTest::mouseClick(Top, Qt::LeftButton, {}, Top->actionGeometry(Item).center());
}

std::string MediaDir() {
  const char* dir = std::getenv("PAVREL_MEDIA_DIR");
  return dir != nullptr ? dir : "";
}

}  // namespace pavrel::test

#pragma once

// The filter graph's private parts, shared by its files: FilterGraph.cpp (the graph's life and
// its commands), FilterGraphPipeline.cpp (one pipeline: its elements, bus and teardown) and
// FilterGraphCapture.cpp (the capture device and the format asked of it).

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "video/FilterGraph.h"
#include "video/GstSupport.h"
#include "video/Sinks.h"

namespace pavrel {

namespace graph {

// What the streaming threads and the bus tell the UI thread about one pipeline.
struct TPipelineState {
  std::mutex Lock;
  std::condition_variable Changed;
  bool AsyncDone = false;
  bool Eos = false;
  bool NoVideo = false;
  bool VideoLinked = false;
  TErrorPtr Error;
  GstElement* Pipeline = nullptr;  // not owned
  GstElement* Tee = nullptr;       // not owned
  bool RealTime = true;
  // Told once per run about its end: "" for the end of the stream, else the error text.
  std::function<void(const std::string& Error)> OnEnded;
  bool EndTold = false;
};

// The error's own text, or Fallback when it has none.
std::string ErrorText(const GError* Error, const char* Fallback);

// Bus sync handler: records errors, end of stream and the pipeline's preroll in the state.
GstBusSyncReply OnBusMessage(GstBus* Bus, GstMessage* Message, gpointer Data);

// A new element of Factory in Bin; EDirectShowException when the plugin is missing.
GstElement* AddElement(GstElement* Bin, const char* Factory, const char* Name);
// EDirectShowException when the two do not link.
void Link(GstElement* From, GstElement* To);

// Decoder signal handlers; Data is the pipeline's TPipelineState.
void OnPadAdded(GstElement* Decoder, GstPad* Pad, gpointer Data);
void OnNoMorePads(GstElement* Decoder, gpointer Data);

}  // namespace graph

using graph::TPipelineState;

// One GStreamer pipeline with its state; destroying it stops it.
struct TPipeline {
  // Declared first so that it goes last: signal and bus handlers point to it.
  std::unique_ptr<TPipelineState> State = std::make_unique<TPipelineState>();
  TGstPtr<GstElement> Element;
  TGstPtr<GstDevice> Device;
  GstElement* Source = nullptr;         // the device's element, owned by Element
  GstElement* CaptureFilter = nullptr;  // owned by Element
  std::string CaptureCaps;

  TPipeline() = default;
  TPipeline(const TPipeline&) = delete;
  TPipeline& operator=(const TPipeline&) = delete;
  ~TPipeline();

  TErrorPtr TakeError();
};

// Pipelines whose teardown has not finished, for one graph.
struct TTeardowns {
  std::mutex Lock;
  std::condition_variable Done;
  int Pending = 0;

  bool Wait(std::chrono::milliseconds Timeout) {
    std::unique_lock lock(Lock);
    return Done.wait_for(lock, Timeout, [&] { return Pending == 0; });
  }
};

// Stops and frees the pipeline on a thread of its own (see FilterGraphPipeline.cpp).
void Dispose(std::unique_ptr<TPipeline> Pipeline, const std::shared_ptr<TTeardowns>& Teardowns);

struct TFilterGraph::TImpl {
  TImpl(TFilter& Source, TSampleGrabber::TImpl& Grabber, TVideoWindow::TImpl& Window)
      : Source(Source), Grabber(Grabber), Window(Window) {}

  // A pipeline holding the grabber and preview branches behind a tee, and the source
  // holder's device when WithDevice and there is one.
  std::unique_ptr<TPipeline> Build(bool WithDevice);
  void AddDevice(TPipeline& Pipeline);
  void StopSinks() {
    std::scoped_lock lock(RunLock);
    Grabber.Stop();
    Window.Stop();
  }
  // Stops the frames at once and hands the pipeline to its teardown.
  void Drop() {
    StopSinks();
    Dispose(std::move(Pipeline), Teardowns);
    Grabber.Clear();
    Window.Clear();
  }

  TFilter& Source;
  TSampleGrabber::TImpl& Grabber;
  TVideoWindow::TImpl& Window;
  bool RealTime = true;
  std::unique_ptr<TPipeline> Pipeline;
  std::shared_ptr<TTeardowns> Teardowns = std::make_shared<TTeardowns>();
  // Opening the sinks and Interrupt() exclude each other.
  std::mutex RunLock;
  std::function<void(const std::string&)> OnEnded;
  std::chrono::milliseconds TeardownWait{5000};
};

}  // namespace pavrel

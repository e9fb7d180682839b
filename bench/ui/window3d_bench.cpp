// The 3D window live under an Xorg dummy server with openbox: a
// checkerboard window full screen on the built-in DUMMY0 is captured, runs
// through the carried stand-in depth model on OpenCV DNN, the filter and the
// stereo generator, and the window full screen on the 3840-wide glasses
// output DUMMY1 shows it, on each drawing path:
//
//   Window3D/raster   the CPU compositor into a canvas the window paints
//   Window3D/opengl   one OpenGL surface, the eye program (forced: on a
//                     software renderer the automatic choice is raster)
//
// Each reports the frames shown per second and the latency from capture to
// the swap (to the end of the paint on the raster path), p50 and p99, with
// the renderer string and the path, beside a bare loop of the same run on
// the same output: upload a 1920 x 1080 frame, draw it across 3840 x 1080,
// swap (GL), or paint a 3840 x 1080 picture (raster), as fast as they go.
// Capture runs at 30 frames per second at most. On llvmpipe the figures are
// reported, not judged.
//
//   window3d_bench --benchmark_counters_tabular=true
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QOpenGLBuffer>
#include <QOpenGLExtraFunctions>
#include <QOpenGLShaderProgram>
#include <QOpenGLTexture>
#include <QOpenGLVertexArrayObject>
#include <QOpenGLWidget>
#include <QPainter>
#include <QScreen>
#include <QSurfaceFormat>
#include <QWidget>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#include "ai3d/kernels/kernel_backend_factory.h"
#include "ai3d/manager/orvex_depth_custom_manager.h"
#include "app/display_glass_screen_finder.h"
#include "device/display/display_configuration.h"
#include "platform/dispatch/clock.h"
#include "platform/dispatch/runtime.h"
#include "platform/display/linux/randr_display_server.h"
#include "platform/inference/linux/opencv_depth_network.h"
#include "support/openbox_session.h"
#include "support/percentiles.h"
#include "support/xorg_dummy_server.h"
#include "ui/orvex_depth_window.h"
#include "ui/qt_depth_window.h"
#include "ui/qt_main_queue.h"
#include "ui/screen_for_output.h"

namespace {

using namespace vistrelle;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kWarmUp = 2s;
constexpr auto kMeasured = 6s;

testing::XorgDummyServer* xorg = nullptr;

template <class Done>
bool processEventsUntil(Done done, std::chrono::milliseconds limit) {
  const auto end = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() > end) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return true;
}

void processEventsFor(std::chrono::milliseconds span) {
  processEventsUntil([] { return false; }, span);
}

double loadAverage() {
  std::ifstream in("/proc/loadavg");
  double load = 0;
  in >> load;
  return load;
}

QImage checkerboard() {
  QImage image(1920, 1080, QImage::Format_RGB32);
  for (int y = 0; y < 1080; ++y) {
    auto* row = reinterpret_cast<uint32_t*>(image.scanLine(y));
    for (int x = 0; x < 1920; ++x) {
      const bool light = ((x / 64 + y / 64) % 2) != 0;
      row[x] = light ? 0xFFE0E0E0u : 0xFF203040u;
    }
  }
  return image;
}

class Picture : public QWidget {
 public:
  explicit Picture(QImage image) : image_(std::move(image)) {}

 protected:
  void paintEvent(QPaintEvent*) override { QPainter(this).drawImage(0, 0, image_); }

 private:
  QImage image_;
};

// The bare GL loop: upload, draw, swap, again.
class BareGlLoop : public QOpenGLWidget, protected QOpenGLExtraFunctions {
 public:
  BareGlLoop() : frame_(checkerboard()) {
    setUpdateBehavior(QOpenGLWidget::NoPartialUpdate);
    connect(this, &QOpenGLWidget::frameSwapped, this, [this] {
      ++swaps_;
      update();
    });
  }
  ~BareGlLoop() override {
    makeCurrent();
    texture_.reset();
    program_.reset();
    vao_.destroy();
    doneCurrent();
  }
  uint64_t swaps() const { return swaps_; }
  std::string renderer() const { return renderer_; }

 protected:
  void initializeGL() override {
    initializeOpenGLFunctions();
    renderer_ = std::string(reinterpret_cast<const char*>(glGetString(GL_RENDERER))) + ", " +
                reinterpret_cast<const char*>(glGetString(GL_VERSION));
    program_ = std::make_unique<QOpenGLShaderProgram>();
    program_->addShaderFromSourceCode(QOpenGLShader::Vertex, R"(#version 430
      out vec2 uv;
      void main() {
        vec2 corner = vec2(gl_VertexID & 1, gl_VertexID >> 1);
        uv = vec2(corner.x, 1.0 - corner.y);
        gl_Position = vec4(corner * 2.0 - 1.0, 0.0, 1.0);
      })");
    program_->addShaderFromSourceCode(QOpenGLShader::Fragment, R"(#version 430
      in vec2 uv;
      layout(binding = 0) uniform sampler2D frame;
      layout(location = 0) out vec4 colour;
      void main() { colour = vec4(texture(frame, uv).rgb, 1.0); })");
    program_->link();
    vao_.create();
    texture_ = std::make_unique<QOpenGLTexture>(QOpenGLTexture::Target2D);
    texture_->setSize(frame_.width(), frame_.height());
    texture_->setFormat(QOpenGLTexture::RGBA8_UNorm);
    texture_->setMinMagFilters(QOpenGLTexture::Linear, QOpenGLTexture::Linear);
    texture_->allocateStorage();
  }
  void paintGL() override {
    texture_->setData(QOpenGLTexture::BGRA, QOpenGLTexture::UInt8, frame_.constBits());
    glViewport(0, 0, width(), height());
    program_->bind();
    vao_.bind();
    texture_->bind(0);
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
  }

 private:
  QImage frame_;
  std::unique_ptr<QOpenGLShaderProgram> program_;
  std::unique_ptr<QOpenGLTexture> texture_;
  QOpenGLVertexArrayObject vao_;
  uint64_t swaps_ = 0;
  std::string renderer_;
};

// The bare raster loop: paint a 3840 x 1080 picture, again.
class BareRasterLoop : public QWidget {
 public:
  BareRasterLoop() : picture_(3840, 1080, QImage::Format_RGB32) {
    picture_.fill(Qt::darkGray);
    setAttribute(Qt::WA_OpaquePaintEvent);
  }
  uint64_t paints() const { return paints_; }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter(this).drawImage(0, 0, picture_);
    ++paints_;
    update();
  }

 private:
  QImage picture_;
  uint64_t paints_ = 0;
};

template <class Widget>
bool fullScreenOnGlasses(Widget& widget) {
  widget.setGeometry(ui::screenForOutput("DUMMY1")->geometry());
  widget.showFullScreen();
  return processEventsUntil([&widget] { return widget.geometry() == QRect(1920, 0, 3840, 1080); },
                            10s);
}

// Frames per second of a bare loop on the glasses' output.
double bareFps(bool gl, std::string* renderer) {
  if (gl) {
    BareGlLoop loop;
    if (!fullScreenOnGlasses(loop)) return 0;
    processEventsFor(std::chrono::duration_cast<std::chrono::milliseconds>(kWarmUp));
    const uint64_t before = loop.swaps();
    processEventsFor(std::chrono::duration_cast<std::chrono::milliseconds>(kMeasured));
    *renderer = loop.renderer();
    return static_cast<double>(loop.swaps() - before) /
           std::chrono::duration<double>(kMeasured).count();
  }
  BareRasterLoop loop;
  if (!fullScreenOnGlasses(loop)) return 0;
  processEventsFor(std::chrono::duration_cast<std::chrono::milliseconds>(kWarmUp));
  const uint64_t before = loop.paints();
  processEventsFor(std::chrono::duration_cast<std::chrono::milliseconds>(kMeasured));
  return static_cast<double>(loop.paints() - before) /
         std::chrono::duration<double>(kMeasured).count();
}

class NoGlasses : public ai3d::GlassesControl {
 public:
  bool hasCurrentDevice() const override { return false; }
  int32_t switchDisplay3D(bool) override { return -1; }
  int32_t setDuty(int32_t) override { return -1; }
  int32_t setLightSensorWearDetection(bool) override { return -1; }
  int32_t changeIMUWithGlass(bool) override { return -1; }
  uint64_t connectionEpoch() const override { return 1; }
};

void Window3D(benchmark::State& state, ui::StereoViewChoice choice) {
  const bool gl = choice == ui::StereoViewChoice::OpenGl;
  MainState main;
  main.reset();
  main.glassStatus.store(true);
  main.isOpen3D.store(false);
  main.depthValue.store(0.01f);
  NotificationCenter center;
  NoGlasses glasses;
  device::DisplayConfiguration::Options displayOptions;
  displayOptions.server = std::make_shared<display::RandrDisplayServer>(xorg->display());
  displayOptions.state = &main;
  displayOptions.center = &center;
  auto quiet = [](std::string_view) {};
  displayOptions.printLog = quiet;
  displayOptions.trace = quiet;
  displayOptions.print = quiet;
  displayOptions.log = quiet;
  device::DisplayConfiguration displays(displayOptions);
  DisplayGlassScreenFinder finder(displays);
  const std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                       ("vistrelle-window3d-bench-" + std::to_string(getpid()));

  ai3d::OrvexDepthCustomManager::Environment env;
  env.glasses = &glasses;
  env.screens = &finder;
  env.makeWindow = [choice](ai3d::KernelBackend& backend) {
    return ui::QtDepthWindow::make(backend, choice);
  };
  env.state = &main;
  env.center = &center;
  env.delays.searchPass = 50ms;
  env.delays.placement = 50ms;
  env.delays.placementRetry = 100ms;
  env.delays.fullScreenSettle = 100ms;
  env.model.dataFolder = (folder / ".OrvexSpace").string();
  env.model.createDataFolder = [folder] {
    std::filesystem::create_directories(folder / ".OrvexSpace");
    return true;
  };
  env.model.print = [](const std::string&) {};
  env.model.log = [](const std::string&) {};
  std::string backendLine;
  env.makeBackend = [&backendLine] {
    ai3d::BackendOptions options;
    options.log = [&backendLine](const std::string& line) { backendLine = line; };
    return ai3d::makeKernelBackend(ai3d::BackendChoice::Automatic, options);
  };
  env.log = [](const std::string&) {};
  env.showMessage = [](const std::string&) {};
  auto manager = ai3d::OrvexDepthCustomManager::create(std::move(env));

  bool placed = false;
  auto placedNote =
      center.observe(ai3d::OrvexDepthCustomManager::kSuccessOrError, nullptr,
                     [&placed](const Notification& note) { placed = note.object.intOr(0) == 1; });
  manager->open3DWindow();
  if (!processEventsUntil([&] { return placed; }, 30s)) {
    state.SkipWithError("the 3D window did not reach the glasses' output");
    return;
  }
  auto& window = static_cast<ui::QtDepthWindow*>(manager->depthWindow())->window();
  processEventsUntil([&] { return window.geometry() == QRect(1920, 0, 3840, 1080); }, 10s);

  std::vector<double> latencies;
  bool measuring = false;
  window.setFrameShownHook([&](dispatch::TimePoint capturedAt) {
    if (!measuring) return;
    const auto latency = dispatch::SteadyClock::monotonicNow() - capturedAt;
    latencies.push_back(std::chrono::duration<double, std::milli>(latency).count());
  });
  for (auto _ : state) {
    processEventsFor(std::chrono::duration_cast<std::chrono::milliseconds>(kWarmUp));
    const uint64_t before = window.framesDrawn();
    measuring = true;
    processEventsFor(std::chrono::duration_cast<std::chrono::milliseconds>(kMeasured));
    measuring = false;
    const uint64_t shown = window.framesDrawn() - before;
    const double seconds = std::chrono::duration<double>(kMeasured).count();
    const bench::Percentiles p = bench::percentiles(latencies);
    const double fps = static_cast<double>(shown) / seconds;
    state.counters["fps"] = fps;
    state.counters["latency_p50_ms"] = p.p50;
    state.counters["latency_p99_ms"] = p.p99;
    state.counters["load"] = loadAverage();
    const std::string path = window.path().describe();
    window.setFrameShownHook({});
    manager->close3DWindow();
    processEventsUntil([&] { return !window.isVisible(); }, 10s);

    std::string bareRenderer;
    const double bare = bareFps(gl, &bareRenderer);
    state.counters["bare_fps"] = bare;
    state.counters["fps_over_bare"] = bare > 0 ? fps / bare : 0;
    state.SetLabel(path + " | " + backendLine +
                   (bareRenderer.empty() ? "" : " | bare loop: " + bareRenderer));
  }
  processEventsUntil([&] { return manager.use_count() == 1; }, 10s);
  manager.reset();
  std::filesystem::remove_all(folder);
}

BENCHMARK_CAPTURE(Window3D, raster, ui::StereoViewChoice::Raster)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(Window3D, opengl, ui::StereoViewChoice::OpenGl)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  testing::XorgDummyServer server;
  std::string error;
  if (!server.running() || !server.bringUpGlasses(&error) ||
      !server.setLayout(testing::DummyLayout::GlassesWide, {}, &error)) {
    std::fprintf(stderr, "no Xorg dummy server with the glasses at 3840: %s %s\n",
                 server.error().c_str(), error.c_str());
    return 1;
  }
  testing::OpenboxSession openbox(server.display());
  if (!openbox.running()) {
    std::fprintf(stderr, "no window manager: %s\n", openbox.error().c_str());
    return 1;
  }
  xorg = &server;
  setenv("DISPLAY", server.display().c_str(), 1);
  setenv("QT_QPA_PLATFORM", "xcb", 1);
  QSurfaceFormat format;
  format.setVersion(4, 3);
  format.setProfile(QSurfaceFormat::CoreProfile);
  format.setSwapInterval(0);  // the dummy has no vertical blank to wait for
  QSurfaceFormat::setDefaultFormat(format);
  int status = 0;
  {
    QApplication application(argc, argv);
    dispatch::Runtime runtime(std::make_shared<ui::QtMainQueue>());
    Picture board(checkerboard());
    board.setGeometry(ui::screenForOutput("DUMMY0")->geometry());
    board.showFullScreen();
    processEventsUntil([&board] { return board.geometry() == QRect(0, 0, 1920, 1080); }, 10s);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    runtime.runStops();
    runtime.stop();
  }
  return status;
}

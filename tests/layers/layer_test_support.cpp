#include "layer_test_support.h"

#include "layers.h"

unsigned TextName(Picture picture) {
  switch (picture) {
    case Picture::Text99: return 199;
    case Picture::Text10: return 110;
    case Picture::Text11: return 111;
    default: return 101 + (static_cast<int>(picture) - static_cast<int>(Picture::Text1));
  }
}

void StartShow() {
  BindGlRecorder();
  FillCircleTable();
  Background = BackgroundState{};  // Spread 0, as at program start
  ResetBackgroundState();
  ResetOverlayState();
  SeedShakeRandom(12345);
  for (int i = 0; i < static_cast<int>(Picture::Count); ++i) Pictures[i].texture = 0;
  PictureRecord(Picture::Logo).texture = LogoName;
  for (Picture p : {Picture::Text1, Picture::Text2, Picture::Text3, Picture::Text4, Picture::Text5, Picture::Text6,
                    Picture::Text7, Picture::Text8, Picture::Text9, Picture::Text99, Picture::Text10, Picture::Text11})
    PictureRecord(p).texture = TextName(p);
  ClearCalls();
}

std::string Line(const char* name, std::initializer_list<double> args) {
  GlCall call;
  call.name = name;
  call.args = args;
  return FormatCall(call);
}

double F(double value) { return static_cast<float>(value); }

std::vector<std::string> Lines() { return FormatCalls(Recorder.calls); }

void ClearCalls() { Recorder.calls.clear(); }

std::vector<GlCall> CallsOf(void (*layer)()) {
  ClearCalls();
  layer();
  std::vector<GlCall> calls = std::move(Recorder.calls);
  ClearCalls();
  return calls;
}

// Verifier failures: fatal by default, collected while a capture is active.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "host_control.h"

namespace host {
namespace {

std::mutex g_lock;
int g_captureDepth = 0;
std::vector<std::string> g_messages;

}  // namespace

void VerifierFailure(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  {
    std::lock_guard<std::mutex> guard(g_lock);
    if (g_captureDepth > 0) {
      g_messages.emplace_back(text);
      return;
    }
  }
  fprintf(stderr, "DRIVER VERIFIER: %s\n", text);
  fflush(stderr);
  abort();
}

ScopedVerifierCapture::ScopedVerifierCapture() {
  std::lock_guard<std::mutex> guard(g_lock);
  if (g_captureDepth++ == 0) g_messages.clear();
}

ScopedVerifierCapture::~ScopedVerifierCapture() {
  std::lock_guard<std::mutex> guard(g_lock);
  --g_captureDepth;
}

std::vector<std::string> ScopedVerifierCapture::Messages() const {
  std::lock_guard<std::mutex> guard(g_lock);
  return g_messages;
}

}  // namespace host

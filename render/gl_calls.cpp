#include "render/gl_calls.h"

#include <SDL.h>

#include <cstdint>
#include <cstdio>

#include "platform/platform.h"
#include "render/video.h"

namespace render::gl {
namespace {

// The calls of the context they were looked up in (its glGeneration; 0: not
// yet looked up). Kept until a new context is made.
struct LookedUp {
  FramebufferCalls framebuffers;
  uint32_t framebuffersGeneration = 0;
  FragmentProgramCalls programs;
  uint32_t programsGeneration = 0;
};
LookedUp lookedUp;

template <typename Fn>
Fn lookUp(const char* name, const char* suffix) {
  char full[64];
  std::snprintf(full, sizeof full, "%s%s", name, suffix);
  return reinterpret_cast<Fn>(SDL_GL_GetProcAddress(full));
}

}  // namespace

bool FramebufferCalls::complete() const {
  return gen != nullptr && remove != nullptr && bind != nullptr && attach != nullptr &&
         check != nullptr && genRenderbuffer != nullptr && removeRenderbuffer != nullptr &&
         bindRenderbuffer != nullptr && storeRenderbuffer != nullptr &&
         attachRenderbuffer != nullptr;
}

bool hasExtension(const char* name) {
  return platform::listsExtension(reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS)), name);
}

int majorVersion() {
  const auto* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
  return version != nullptr && version[0] >= '1' && version[0] <= '9' ? version[0] - '0' : 1;
}

const FramebufferCalls& framebufferCalls() {
  FramebufferCalls& calls = lookedUp.framebuffers;
  if (lookedUp.framebuffersGeneration == video().glGeneration) return calls;
  lookedUp.framebuffersGeneration = video().glGeneration;
  calls = FramebufferCalls{};
  const char* suffix = nullptr;
  if (majorVersion() >= 3 || hasExtension("GL_ARB_framebuffer_object")) {
    suffix = "";
  } else if (hasExtension("GL_EXT_framebuffer_object")) {
    suffix = "EXT";
  }
  if (suffix == nullptr) return calls;
  calls.gen = lookUp<GenFramebuffersFn>("glGenFramebuffers", suffix);
  calls.remove = lookUp<DeleteFramebuffersFn>("glDeleteFramebuffers", suffix);
  calls.bind = lookUp<BindFramebufferFn>("glBindFramebuffer", suffix);
  calls.attach = lookUp<FramebufferTexture2DFn>("glFramebufferTexture2D", suffix);
  calls.check = lookUp<CheckFramebufferStatusFn>("glCheckFramebufferStatus", suffix);
  calls.genRenderbuffer = lookUp<GenRenderbuffersFn>("glGenRenderbuffers", suffix);
  calls.removeRenderbuffer = lookUp<DeleteRenderbuffersFn>("glDeleteRenderbuffers", suffix);
  calls.bindRenderbuffer = lookUp<BindRenderbufferFn>("glBindRenderbuffer", suffix);
  calls.storeRenderbuffer = lookUp<RenderbufferStorageFn>("glRenderbufferStorage", suffix);
  calls.attachRenderbuffer = lookUp<FramebufferRenderbufferFn>("glFramebufferRenderbuffer", suffix);
  return calls;
}

const FragmentProgramCalls& fragmentProgramCalls() {
  FragmentProgramCalls& calls = lookedUp.programs;
  if (lookedUp.programsGeneration == video().glGeneration) return calls;
  lookedUp.programsGeneration = video().glGeneration;
  calls = FragmentProgramCalls{};
  if (!hasExtension("GL_ARB_fragment_program")) return calls;
  calls.gen = lookUp<GenProgramsFn>("glGenProgramsARB", "");
  calls.bind = lookUp<BindProgramFn>("glBindProgramARB", "");
  calls.load = lookUp<ProgramStringFn>("glProgramStringARB", "");
  return calls;
}

}  // namespace render::gl

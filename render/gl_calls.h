// GL entry points past GL 1.1, looked up at run time in the current context:
// <GL/gl.h> is GL 1.1 on Windows, so the values and the calls' types are
// spelled out here. Looked up once per GL context (video().glGeneration).
#pragma once

#include <GL/gl.h>

#ifndef APIENTRY
#define APIENTRY
#endif

namespace render::gl {

// Framebuffer objects (GL 3.0, GL_ARB_framebuffer_object, or the older
// GL_EXT_framebuffer_object with the same values and calls under an EXT
// suffix).
inline constexpr GLenum kFramebufferTarget = 0x8D40;   // GL_FRAMEBUFFER
inline constexpr GLenum kRenderbufferTarget = 0x8D41;  // GL_RENDERBUFFER
inline constexpr GLenum kColorAttachment0 = 0x8CE0;
inline constexpr GLenum kDepthAttachment = 0x8D00;
inline constexpr GLenum kDepthComponent16 = 0x81A5;
inline constexpr GLenum kFramebufferComplete = 0x8CD5;
inline constexpr GLenum kBgra = 0x80E1;         // GL_BGRA (GL 1.2, GL_EXT_bgra)
inline constexpr GLenum kClampToEdge = 0x812F;  // GL_CLAMP_TO_EDGE (GL 1.2)
// GL_ARB_fragment_program.
inline constexpr GLenum kFragmentProgram = 0x8804;
inline constexpr GLenum kProgramFormatAscii = 0x8875;

using GenFramebuffersFn = void(APIENTRY*)(GLsizei, GLuint*);
using DeleteFramebuffersFn = void(APIENTRY*)(GLsizei, const GLuint*);
using BindFramebufferFn = void(APIENTRY*)(GLenum, GLuint);
using FramebufferTexture2DFn = void(APIENTRY*)(GLenum, GLenum, GLenum, GLuint, GLint);
using CheckFramebufferStatusFn = GLenum(APIENTRY*)(GLenum);
using GenRenderbuffersFn = void(APIENTRY*)(GLsizei, GLuint*);
using DeleteRenderbuffersFn = void(APIENTRY*)(GLsizei, const GLuint*);
using BindRenderbufferFn = void(APIENTRY*)(GLenum, GLuint);
using RenderbufferStorageFn = void(APIENTRY*)(GLenum, GLenum, GLsizei, GLsizei);
using FramebufferRenderbufferFn = void(APIENTRY*)(GLenum, GLenum, GLenum, GLuint);
using GenProgramsFn = void(APIENTRY*)(GLsizei, GLuint*);
using BindProgramFn = void(APIENTRY*)(GLenum, GLuint);
using ProgramStringFn = void(APIENTRY*)(GLenum, GLenum, GLsizei, const void*);

struct FramebufferCalls {
  GenFramebuffersFn gen = nullptr;
  DeleteFramebuffersFn remove = nullptr;
  BindFramebufferFn bind = nullptr;
  FramebufferTexture2DFn attach = nullptr;
  CheckFramebufferStatusFn check = nullptr;
  GenRenderbuffersFn genRenderbuffer = nullptr;
  DeleteRenderbuffersFn removeRenderbuffer = nullptr;
  BindRenderbufferFn bindRenderbuffer = nullptr;
  RenderbufferStorageFn storeRenderbuffer = nullptr;
  FramebufferRenderbufferFn attachRenderbuffer = nullptr;
  bool complete() const;
};

struct FragmentProgramCalls {
  GenProgramsFn gen = nullptr;
  BindProgramFn bind = nullptr;
  ProgramStringFn load = nullptr;
  bool complete() const { return gen != nullptr && bind != nullptr && load != nullptr; }
};

// The current context's framebuffer calls, or none (complete() false) where
// the driver has no framebuffer objects.
const FramebufferCalls& framebufferCalls();
// The current context's GL_ARB_fragment_program calls, or none.
const FragmentProgramCalls& fragmentProgramCalls();
// Whether the current context lists the extension.
bool hasExtension(const char* name);
// The major number of the current context's GL version (1 when unreadable).
int majorVersion();

}  // namespace render::gl

#include "GlCallLog.h"

#include <GL/gl.h>
#include <dlfcn.h>

#include <cstdlib>

namespace clienttest {

namespace {

GlCallLog* g_active = nullptr;

// The next definition of an OpenGL function after ours: the real one. The
// test binary does not link OpenGL itself, so the getters come this way too.
template <typename Function>
Function real(const char* name) {
    void* symbol = dlsym(RTLD_NEXT, name);
    if (symbol == nullptr) {
        std::abort();
    }
    return reinterpret_cast<Function>(symbol);
}

GlDrawState currentDrawState() {
    static const auto isEnabled = real<GLboolean (*)(GLenum)>("glIsEnabled");
    static const auto getIntegerv = real<void (*)(GLenum, GLint*)>("glGetIntegerv");
    static const auto getBooleanv = real<void (*)(GLenum, GLboolean*)>("glGetBooleanv");
    GLint source = 0;
    GLint destination = 0;
    GLboolean depthWrite = GL_FALSE;
    getIntegerv(GL_BLEND_SRC, &source);
    getIntegerv(GL_BLEND_DST, &destination);
    getBooleanv(GL_DEPTH_WRITEMASK, &depthWrite);
    return GlDrawState{isEnabled(GL_BLEND) == GL_TRUE, static_cast<uint32_t>(source),
                       static_cast<uint32_t>(destination), depthWrite == GL_TRUE};
}

}  // namespace

GlCallLog::GlCallLog() {
    g_active = this;
}

GlCallLog::~GlCallLog() {
    g_active = nullptr;
}

}  // namespace clienttest

extern "C" void glBlendFunc(GLenum source, GLenum destination) {
    static const auto next = clienttest::real<void (*)(GLenum, GLenum)>("glBlendFunc");
    if (clienttest::g_active != nullptr) {
        clienttest::g_active->blendFuncs.push_back({source, destination});
    }
    next(source, destination);
}

extern "C" void glDrawElements(GLenum mode, GLsizei count, GLenum type, const void* indices) {
    static const auto next =
        clienttest::real<void (*)(GLenum, GLsizei, GLenum, const void*)>("glDrawElements");
    if (clienttest::g_active != nullptr) {
        clienttest::g_active->draws.push_back(clienttest::currentDrawState());
    }
    next(mode, count, type, indices);
}

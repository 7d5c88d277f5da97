#include "platform/webkit/engine/body_stream.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace wv_engine {
namespace {

struct BodyState {
  std::string buffer;
  std::size_t offset = 0;  // buffer[offset..] is unread
  bool ended = false;
  bool failed = false;
  std::string failure;
  bool readerGone = false;
  // The reader's read waiting for a piece.
  GTask* pending = nullptr;
  void* pendingBuffer = nullptr;
  gsize pendingCount = 0;
  GCancellable* pendingCancellable = nullptr;
  gulong cancelHandler = 0;
  // The cancellable of the reader's latest read: once cancelled, the reader is gone even
  // when its read was answered before it saw the answer.
  GCancellable* lastCancellable = nullptr;

  std::size_t unread() const { return buffer.size() - offset; }
  bool answerable() const { return unread() > 0 || ended; }
};

struct WvBodyStream {
  GInputStream parent;
  BodyState* state;
};
struct WvBodyStreamClass {
  GInputStreamClass parent;
};

GType wv_body_stream_get_type();
G_DEFINE_TYPE(WvBodyStream, wv_body_stream, G_TYPE_INPUT_STREAM)

BodyState& stateOf(gpointer stream) { return *reinterpret_cast<WvBodyStream*>(stream)->state; }

// Fills `into` from what is there, or tells the end or the failure. -1 with `error` set
// for the failure; the caller made sure something can be answered.
gssize take(BodyState& s, void* into, gsize count, GError** error) {
  if (s.unread() > 0) {
    const gsize n = std::min<gsize>(count, s.unread());
    std::memcpy(into, s.buffer.data() + s.offset, n);
    s.offset += n;
    if (s.offset == s.buffer.size()) {
      s.buffer.clear();
      s.offset = 0;
    }
    return static_cast<gssize>(n);
  }
  if (s.failed) {
    g_set_error_literal(error, G_IO_ERROR, G_IO_ERROR_FAILED, s.failure.c_str());
    return -1;
  }
  return 0;
}

void answerPending(BodyState& s) {
  if (!s.pending || !s.answerable()) return;
  GTask* task = s.pending;
  s.pending = nullptr;
  if (s.pendingCancellable) {
    if (s.cancelHandler) g_cancellable_disconnect(s.pendingCancellable, s.cancelHandler);
    g_object_unref(s.pendingCancellable);
    s.pendingCancellable = nullptr;
    s.cancelHandler = 0;
  }
  GError* error = nullptr;
  const gssize n = take(s, s.pendingBuffer, s.pendingCount, &error);
  if (n < 0) {
    g_task_return_error(task, error);
  } else {
    g_task_return_int(task, n);
  }
  g_object_unref(task);
}

// The reader gave up on its read (the page went away): the read ends cancelled, and the
// writer hears at its next piece that nobody reads.
void onCancelled(GCancellable*, gpointer stream) {
  BodyState& s = stateOf(stream);
  s.readerGone = true;
  s.buffer.clear();
  s.offset = 0;
  if (!s.pending) return;
  GTask* task = s.pending;
  s.pending = nullptr;
  // Disconnecting from inside the handler would wait for itself: the handler stays until
  // the cancellable goes, and finds no read pending if it ever runs again.
  s.cancelHandler = 0;
  g_clear_object(&s.pendingCancellable);
  g_task_return_new_error(task, G_IO_ERROR, G_IO_ERROR_CANCELLED, "The read was cancelled.");
  g_object_unref(task);
}

gssize readSync(GInputStream* stream, void* buffer, gsize count, GCancellable*, GError** error) {
  BodyState& s = stateOf(stream);
  if (!s.answerable()) {
    g_set_error_literal(error, G_IO_ERROR, G_IO_ERROR_WOULD_BLOCK, "The body has not arrived yet.");
    return -1;
  }
  return take(s, buffer, count, error);
}

void readAsync(GInputStream* stream, void* buffer, gsize count, int, GCancellable* cancellable,
               GAsyncReadyCallback callback, gpointer user) {
  BodyState& s = stateOf(stream);
  GTask* task = g_task_new(stream, cancellable, callback, user);
  if (g_task_return_error_if_cancelled(task)) {
    g_object_unref(task);
    return;
  }
  if (cancellable != s.lastCancellable) {
    g_clear_object(&s.lastCancellable);
    if (cancellable) s.lastCancellable = G_CANCELLABLE(g_object_ref(cancellable));
  }
  s.pending = task;
  s.pendingBuffer = buffer;
  s.pendingCount = count;
  if (s.answerable()) {
    answerPending(s);
    return;
  }
  if (cancellable) {
    s.pendingCancellable = G_CANCELLABLE(g_object_ref(cancellable));
    // The handler keeps the stream: a cancel may come while the read waits.
    s.cancelHandler = g_cancellable_connect(cancellable, G_CALLBACK(onCancelled), g_object_ref(stream),
                                            g_object_unref);
  }
}

gssize readFinish(GInputStream*, GAsyncResult* result, GError** error) {
  return g_task_propagate_int(G_TASK(result), error);
}

gboolean closeSync(GInputStream* stream, GCancellable*, GError**) {
  BodyState& s = stateOf(stream);
  s.readerGone = true;
  s.buffer.clear();
  s.buffer.shrink_to_fit();
  s.offset = 0;
  return TRUE;
}

// Closing touches only this object: done at once, not on a worker thread as GIO's own
// asynchronous close would.
void closeAsync(GInputStream* stream, int, GCancellable* cancellable, GAsyncReadyCallback callback, gpointer user) {
  GTask* task = g_task_new(stream, cancellable, callback, user);
  closeSync(stream, cancellable, nullptr);
  g_task_return_boolean(task, TRUE);
  g_object_unref(task);
}

gboolean closeFinish(GInputStream*, GAsyncResult* result, GError** error) {
  return g_task_propagate_boolean(G_TASK(result), error);
}

void wv_body_stream_finalize(GObject* object) {
  BodyState* state = reinterpret_cast<WvBodyStream*>(object)->state;
  g_clear_object(&state->lastCancellable);
  delete state;
  G_OBJECT_CLASS(wv_body_stream_parent_class)->finalize(object);
}

void wv_body_stream_class_init(WvBodyStreamClass* klass) {
  G_OBJECT_CLASS(klass)->finalize = wv_body_stream_finalize;
  GInputStreamClass* in = G_INPUT_STREAM_CLASS(klass);
  in->read_fn = readSync;
  in->read_async = readAsync;
  in->read_finish = readFinish;
  in->close_fn = closeSync;
  in->close_async = closeAsync;
  in->close_finish = closeFinish;
}

void wv_body_stream_init(WvBodyStream* self) { self->state = new BodyState(); }

}  // namespace

GInputStream* bodyStreamNew() { return G_INPUT_STREAM(g_object_new(wv_body_stream_get_type(), nullptr)); }

bool bodyStreamWrite(GInputStream* stream, const unsigned char* data, std::size_t size) {
  BodyState& s = stateOf(stream);
  if (!s.readerGone && s.lastCancellable && g_cancellable_is_cancelled(s.lastCancellable)) {
    s.readerGone = true;
    s.buffer.clear();
    s.offset = 0;
  }
  if (s.readerGone) return false;
  if (s.ended || size == 0) return true;
  // What was read goes before the buffer grows, so it holds only the unread bytes.
  if (s.offset > 0 && s.offset >= s.buffer.size() / 2) {
    s.buffer.erase(0, s.offset);
    s.offset = 0;
  }
  s.buffer.append(reinterpret_cast<const char*>(data), size);
  answerPending(s);
  return true;
}

void bodyStreamEnd(GInputStream* stream, const char* message) {
  BodyState& s = stateOf(stream);
  if (s.ended) return;
  s.ended = true;
  if (message) {
    s.failed = true;
    s.failure = *message ? message : "The body was cut off.";
  }
  answerPending(s);
}

std::size_t bodyStreamUnread(GInputStream* stream) { return stateOf(stream).unread(); }

bool isBodyStream(GInputStream* stream) { return G_TYPE_CHECK_INSTANCE_TYPE(stream, wv_body_stream_get_type()); }

}  // namespace wv_engine

// The streamed body reader under any order of the writer's pieces and ends, the reader's
// reads (waiting and not), cancels and close, and turns of the main context: what is read
// is what was written, in order, then the end or the failure exactly as the writer gave
// it; a writer hears that a reader gave up; nothing is read after that.
#include <gio/gio.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/webkit/engine/body_stream.h"

namespace {

struct Reader {
  std::string read;          // every byte read so far
  bool pending = false;      // an asynchronous read is out
  bool sawEnd = false;
  bool sawFailure = false;
  bool sawCancel = false;
  unsigned char buffer[512];
};

void check(bool ok) {
  if (!ok) std::abort();
}

void onRead(GObject* source, GAsyncResult* result, gpointer user) {
  auto* r = static_cast<Reader*>(user);
  GError* error = nullptr;
  const gssize n = g_input_stream_read_finish(G_INPUT_STREAM(source), result, &error);
  r->pending = false;
  if (n > 0) {
    check(!r->sawEnd && !r->sawFailure);
    r->read.append(reinterpret_cast<const char*>(r->buffer), static_cast<std::size_t>(n));
  } else if (n == 0) {
    r->sawEnd = true;
  } else if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
    r->sawCancel = true;
  } else {
    r->sawFailure = true;
  }
  if (error) g_error_free(error);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  GInputStream* stream = wv_engine::bodyStreamNew();
  GCancellable* cancellable = g_cancellable_new();
  auto* reader = new Reader();
  std::string written;
  bool ended = false;
  bool failed = false;
  bool gone = false;
  bool closed = false;
  auto turn = [] {
    for (int i = 0; i < 4 && g_main_context_iteration(nullptr, FALSE); ++i) {
    }
  };
  for (std::size_t at = 0; at + 1 < size; at += 2) {
    const unsigned arg = data[at + 1];
    switch (data[at] % 8) {
      case 0: {  // a piece
        std::string piece(arg, '\0');
        for (std::size_t i = 0; i < piece.size(); ++i) piece[i] = static_cast<char>((written.size() + i) * 7 + 1);
        const bool open = wv_engine::bodyStreamWrite(stream, reinterpret_cast<const unsigned char*>(piece.data()),
                                                     piece.size());
        check(open == !gone);
        if (open && !ended) written += piece;
        break;
      }
      case 1:  // a waiting read
        if (!reader->pending && !gone && !g_input_stream_has_pending(stream)) {
          reader->pending = true;
          g_input_stream_read_async(stream, reader->buffer, 1 + arg % sizeof reader->buffer, G_PRIORITY_DEFAULT,
                                    cancellable, onRead, reader);
        }
        break;
      case 2:
        turn();
        break;
      case 3:
      case 4:
        if (!ended) failed = data[at] % 8 == 4;
        wv_engine::bodyStreamEnd(stream, data[at] % 8 == 4 ? "cut" : nullptr);
        ended = true;
        break;
      case 5:  // the page gives up on its read (answered or not)
        if (reader->pending) {
          g_cancellable_cancel(cancellable);
          gone = true;
        }
        break;
      case 6:  // a read that must not wait
        if (!reader->pending && !gone && !g_input_stream_has_pending(stream)) {
          GError* error = nullptr;
          const gssize n = g_input_stream_read(stream, reader->buffer, 1 + arg % sizeof reader->buffer, nullptr, &error);
          if (n > 0) reader->read.append(reinterpret_cast<const char*>(reader->buffer), static_cast<std::size_t>(n));
          if (error) g_error_free(error);
        }
        break;
      case 7:
        if (!reader->pending && !closed) {
          g_input_stream_close(stream, nullptr, nullptr);
          closed = true;
          gone = true;
        }
        break;
    }
    check(written.compare(0, reader->read.size(), reader->read) == 0);
    check(wv_engine::bodyStreamUnread(stream) <= written.size() - reader->read.size());
  }
  // Whatever is still out ends: everything written, then the end as it was given.
  if (!ended) wv_engine::bodyStreamEnd(stream, nullptr);
  turn();
  while (!gone && !closed && !reader->sawEnd && !reader->sawFailure) {
    if (!reader->pending) {
      reader->pending = true;
      g_input_stream_read_async(stream, reader->buffer, sizeof reader->buffer, G_PRIORITY_DEFAULT, nullptr, onRead,
                                reader);
    }
    turn();
  }
  if (!gone) {
    check(reader->read == written);
    check(reader->sawFailure == failed);
  }
  while (reader->pending) turn();
  g_object_unref(cancellable);
  g_object_unref(stream);
  turn();
  delete reader;
  return 0;
}

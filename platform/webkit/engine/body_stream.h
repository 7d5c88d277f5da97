#pragma once
// An answer's body that arrives in pieces, read by the engine as a GInputStream while
// the host is still fetching it: nothing holds the whole body, and a page that stops
// reading is heard of at the next piece. Part of the engine library (GLib inside); every
// call on the thread that runs the default GLib main context.

#include <gio/gio.h>

#include <cstddef>

namespace wv_engine {

// A new stream; the caller owns the returned reference (the host's, given up at end).
GInputStream* bodyStreamNew();
// Appends a piece for the reader. false once the reader stopped (closed the stream or
// cancelled a read): the piece is dropped, and the writer should stop.
bool bodyStreamWrite(GInputStream* stream, const unsigned char* data, std::size_t size);
// No more pieces: the reader gets what is left, then the end (message null) or an error
// with the message. Later writes and ends do nothing.
void bodyStreamEnd(GInputStream* stream, const char* message);
// Bytes written and not read yet.
std::size_t bodyStreamUnread(GInputStream* stream);
// Whether `stream` is one of these (not, say, a whole body in memory).
bool isBodyStream(GInputStream* stream);

}  // namespace wv_engine

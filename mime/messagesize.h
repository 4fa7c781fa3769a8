// The exact size of the text the composer writes for a message (TpxMessage::SaveToStream),
// found without composing it. That is the size SMTP's SIZE extension speaks of (RFC 1870 3:
// the octets sent after the 354 reply, CR LF pairs included, but neither the dots that
// dot-stuffing doubles nor the end-of-data mark): the text before the SMTP client stuffs it.
#pragma once

#include <cstdint>

class TpxMessage;

// Where the attachments' bytes are taken from.
enum class TAttachmentBytes {
  InMemory,  // each item's bytes as the composer takes them: from its source, or its stream
  InFile,    // the file each item's FileName names (a regular file); the item is not read
};

// The headers, boundaries and part headers are laid out by the composer's own code, which also
// draws a boundary and a Message-ID as composing does (their length never changes), so the size
// holds for the text composed later from the same message and bytes. A Base64 part's size follows
// from the number of its bytes; a quoted-printable part's, a 7bit one's and a text part's charset
// depend on every byte, which a file or a source gives in one read, a block at a time (a source
// keeps the facts found, so that composing does not read it for them again). The message is left
// as it is. A file that cannot be read raises EInOutError naming it; a source raises as it reads.
uint64_t ComposedSize(const TpxMessage& message, TAttachmentBytes bytes = TAttachmentBytes::InMemory);

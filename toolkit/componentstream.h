// Component streaming: a component's published properties as a small readable text.
//
//   object pxMessage1: TpxMessage
//     ContentType = "text/plain"
//     Encoding = meUU
//     Sender.Address = "me@example.com"
//     Recipients.Items = ("Ann" "ann@example.com")
//   end
//
// Strings are in double quotes with \" \\ and \xHH escapes; lists are in parentheses.
#pragma once

#include <string>

#include "toolkit/components.h"
#include "toolkit/exceptions.h"

class TStream;

void WriteComponent(TStream& stream, const TComponent& component);
// Reads what WriteComponent wrote: marks the component as loading, calls the setters in the
// stream's order (dotted names reach sub-objects), then Loaded. An unknown property or a
// malformed text raises EReadError naming the line.
void ReadComponent(TStream& stream, TComponent& component);

std::string ComponentToText(const TComponent& component);
void ComponentFromText(const std::string& text, TComponent& component);

MAILCART_EXCEPTION(EReadError, EStreamError);

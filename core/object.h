// Root of the program's shared objects. Events, gadgets, timers and replicated
// objects are held by std::shared_ptr and freed when the last reference goes.
#pragma once

#include <memory>

#include "core/text.h"

class TObject : public std::enable_shared_from_this<TObject> {
 public:
  virtual ~TObject() = default;
};

using TObjectRef = std::shared_ptr<TObject>;

// A string carried where an object reference is expected (an event's extra).
class TStringObject : public TObject {
 public:
  explicit TStringObject(TString text) : text(std::move(text)) {}
  TString text;
};

// The text of `object` when it is a TStringObject, else "".
TString ObjectText(const TObjectRef& object);

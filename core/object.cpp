#include "core/object.h"

TString ObjectText(const TObjectRef& object) {
  auto* s = dynamic_cast<TStringObject*>(object.get());
  return s ? s->text : TString();
}

#include "tests/support/gadget_fixture.h"

#include "profile_fixture.h"

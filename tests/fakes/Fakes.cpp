// Gives the scripted fakes a home in one library, so their meta-objects are built once.
#include "fakes/FakeEcho.h"
#include "fakes/FakeLookup.h"
#include "fakes/FakeNeighbours.h"

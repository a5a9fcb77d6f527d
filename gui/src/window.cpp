// Placeholder until the window is built.
#include "app.hpp"

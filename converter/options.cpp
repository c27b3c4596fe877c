// options.cpp - the option stage of tdftogif.
#include "options.h"

// dataset_writer.cpp - Tidewell datasets for tests.
#include "dataset_writer.h"

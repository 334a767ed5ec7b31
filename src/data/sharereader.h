#ifndef MIXFIT_DATA_SHAREREADER_H
#define MIXFIT_DATA_SHAREREADER_H

// Reads this rank's share of a data file, with the messages, limits and
// results of one process reading the whole file.

#include "data/data.h"

// DataStorage::ReadShare into storage, among ranks: see there.
int ReadRankShare(DataStorage& storage, const char* name, DataLines* lines, Ranks const& ranks);

#endif

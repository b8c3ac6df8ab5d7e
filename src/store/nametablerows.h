// The rows of the name tables (ipn, bus, bpn) and the entries of the name caches: loading a
// table into its cache, and writing the names the refresh found back into the table.
#pragma once

#include "namedata/namecache.h"
#include "store/database.h"

namespace ridelog {

// Replaces the cache's entries with the table's rows that hold a name; a missing or empty table
// leaves the cache as it is.
void loadNameRows(Database& database, StationNameCache& cache);
void loadNameRows(Database& database, BusStopNameCache& cache);
void loadNameRows(Database& database, ShopNameCache& cache);

// In one transaction: every entry with a name sets it on each row of its key, or adds a row.
void writeBackNameRows(Database& database, StationNameCache& cache);
void writeBackNameRows(Database& database, BusStopNameCache& cache);
void writeBackNameRows(Database& database, ShopNameCache& cache);

} // namespace ridelog

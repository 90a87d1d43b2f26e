#pragma once
// Bytes a disc sector holds, by what is counted of it. Every layout, reader
// and writer takes its sector sizes from here.

// User data of a CD Mode 1 or Mode 2 Form 1 sector, and every DVD and BD
// sector: the block of ISO 9660 and UDF volumes.
constexpr int kDataSectorSize = 2048;
// A whole CD sector as read raw: audio, or sync, header, data and EDC/ECC.
constexpr int kRawSectorSize = 2352;
// A Mode 2 sector behind sync and header: sub-header and all the rest.
constexpr int kMode2Size = 2336;
// User data of a Mode 2 Form 2 sector (video and still pictures).
constexpr int kForm2Size = 2324;

// Kept in its own file so that the date and time are those of the build that
// produced the binary: __DATE__ is "May 16 2025" (day padded with a blank)
// and __TIME__ is "11:49:30", the forms the version line shows.
extern const char kBuildDate[] = __DATE__;
extern const char kBuildTime[] = __TIME__;

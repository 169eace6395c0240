#ifndef ZRMISC_H
#define ZRMISC_H

// Clock and time-zone helpers used for the CI-V date, time and UTC-offset
// requests. They run shell commands through the system layer.
void zrmisc_set_date(int year, int month, int day);
void zrmisc_set_time_min_sec(int a, int b);
// offset in the sign convention of the "Etc/GMT" zones (hours west of UTC).
// Returns 0, or a negative errno code when nothing was changed.
int zrmisc_set_utc_offset(int offset);

#endif

#include "report_format.h"

void PrintMilliseconds(FILE* out, double milliseconds) { fprintf(out, "%10.3f", milliseconds); }

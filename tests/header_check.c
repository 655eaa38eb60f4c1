/* The public header stands alone in strict C. */
#include "zelsyncdll.h"

int zelsync_header_check(void);
int zelsync_header_check(void) {
  _SYNCML_SYNCANCHOR_RECORD anchor = {0};
  _SYNC_OBJECT_TYPE type = SYNC_OBJECT_CALENDAR;
  return (int)sizeof anchor + (int)type;
}

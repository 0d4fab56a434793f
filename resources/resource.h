#pragma once

#define IDS_REMOVED             2002
#define IDS_TITLE               2003
#define IDS_RUNNING             2004
#define IDS_NOT_FOUND           2005
#define IDS_CONFIRM             2006
#define IDS_CONFIRM_DIRECTORY   2008
#define IDS_PROTECTED_DIRECTORY 2009
#define IDS_REMOVED_AT_RESTART  2010
#define IDS_NOT_ALL_REMOVED     2011

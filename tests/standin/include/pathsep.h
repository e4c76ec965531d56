// The directory separator of this platform.
#pragma once
#define PATH_SEP '/'
#define PATH_SEP_TEXT "/"

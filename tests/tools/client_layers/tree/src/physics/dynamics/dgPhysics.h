// The public header: anyone may include it.
#pragma once

// The Windows version test used to choose between thread UI language and thread locale.
#pragma once

bool IsVistaOrLater();

// A modal message with an OK button. There is no window system to ask here,
// so the message goes to standard error as "title: text".
#pragma once

void showMessageBox(const char* title, const char* text);

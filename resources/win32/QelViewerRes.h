/* Resource ids shared by QelViewer.rc and the window code. Plain #defines so
   that the resource compiler can read this file too. */
#ifndef QEL_VIEWER_RES_H
#define QEL_VIEWER_RES_H

#define IDR_QEL_MENU 101
#define IDI_QEL_ICON 104

/* Menu commands; the viewer's core knows them as kExtractCommand and
   kExitCommand. */
#define IDM_QEL_EXTRACT 40001
#define IDM_QEL_EXIT 8

#endif

/* The ids of the program's icons and embedded pictures, read by the resource
   script and by the code. Plain defines: the resource compiler reads them too. */
#ifndef VANTRELL_RESOURCE_IDS_H
#define VANTRELL_RESOURCE_IDS_H

/* Icons. */
#define IDI_PROGRAM 1          /* the windows' and the about box's icon */
#define IDI_REPAIR 105         /* the repair tool's shortcuts */

/* Pictures of type "IMAGE", each a PNG stream. */
#define IMG_APP 200            /* the header's program picture, 64 x 64 */
#define IMG_HELP 201           /* beside the help link */
#define IMG_INFO 202           /* beside the version and about links */
#define IMG_REFRESH 203        /* beside the refresh link */
#define IMG_BUTTON 204         /* the donate picture and the main window's button image */
#define IMG_REPAIR 205         /* beside the repair tool's launch label */
#define IMG_REFRESH_BUTTON 206 /* the wizard's refresh button */
#define IMG_BACK 207           /* the wizard's back button */

#endif

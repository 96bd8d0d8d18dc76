// Identifiers of the Windows program's resources.
#ifndef OMBRIX_UI_WIN32_RESOURCES_RESOURCE_H_
#define OMBRIX_UI_WIN32_RESOURCES_RESOURCE_H_

#define IDI_OMBRIX_PATCH 1

#endif  // OMBRIX_UI_WIN32_RESOURCES_RESOURCE_H_

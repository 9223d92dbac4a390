from django.contrib import admin

from .models import Author, Book


class BookInline(admin.TabularInline):
    model = Book
    extra = 1
    fields = ("title", "isbn", "genre", "published", "in_stock")


@admin.register(Author)
class AuthorAdmin(admin.ModelAdmin):
    list_display = ("name", "email", "birth_date")
    search_fields = ("name",)
    inlines = [BookInline]


@admin.register(Book)
class BookAdmin(admin.ModelAdmin):
    list_display = ("title", "author", "genre", "published", "pages", "in_stock")
    list_filter = ("genre", "in_stock", "published")
    search_fields = ("title", "isbn")
    date_hierarchy = "published"
    list_per_page = 40
    fieldsets = (
        (None, {"fields": ("title", "author", "isbn")}),
        ("Details", {"fields": ("genre", "published", "pages", "in_stock", "summary")}),
    )
